#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time; fails on the first crash report.
set -euo pipefail
build=${1:?build folder}
seconds=${2:-20}
shopt -s nullglob
count=0
for target in "$build"/bin/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  echo "fuzz: $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "$corpus" "${seeds[@]}" >"$build/$name.log" 2>&1 || { tail -n 60 "$build/$name.log"; exit 1; }
  grep -E '^stat::number_of_executed_units' "$build/$name.log" || true
  count=$((count + 1))
done
echo "fuzz: $count targets ran clean"
