#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time, starting from its committed seed corpus
# (fuzz/corpus/<target>/). Fails on the first crash report, on a target without seeds, and when the
# build holds no target at all.
set -euo pipefail
build=${1:?build folder}
seconds=${2:-20}
seeds_root="$(cd "$(dirname "$0")/.." && pwd)/fuzz/corpus"
# A smaller quarantine keeps freed memory warm instead of touching fresh pages for every input, and
# shorter allocation stacks cost less to record; every check stays (a caller's ASAN_OPTIONS wins).
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:malloc_context_size=10}
shopt -s nullglob
count=0
for target in "$build"/bin/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  seeds="$seeds_root/$name"
  if [ -z "$(ls -A "$seeds" 2>/dev/null)" ]; then
    echo "fuzz: $name has no seed corpus in fuzz/corpus/$name" >&2
    exit 1
  fi
  # New inputs go to the build's own corpus; the committed seeds are only read.
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  echo "fuzz: $name for ${seconds}s ($(ls "$seeds" | wc -l) seeds)"
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/$name-" "$corpus" "$seeds" >"$build/$name.log" 2>&1 ||
    {
      tail -n 60 "$build/$name.log"
      exit 1
    }
  grep -E '^stat::number_of_executed_units' "$build/$name.log" || true
  count=$((count + 1))
done
if [ "$count" -eq 0 ]; then
  echo "fuzz: no fuzz target in $build/bin (was the fuzz build configured with -DQUARN_FUZZ=ON?)" >&2
  exit 1
fi
echo "fuzz: $count targets ran clean"
