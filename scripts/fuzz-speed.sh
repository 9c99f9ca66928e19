#!/usr/bin/env bash
# Measures how fast every fuzz target of a fuzz build runs from its committed seed corpus: one target
# at a time for SECONDS each (default 30), in a scratch copy of the seeds so the committed corpus is
# not touched. Prints per target the executions, exec/s of the wall clock (what libFuzzer reports)
# and exec/s of the CPU time the target used, which depends less on what else the machine runs; the
# load average before the first target is printed too. On a shared machine compare the CPU figures:
# under a load of several processes per core the wall-clock figure falls with the share of the CPU the
# target gets, the CPU figure far less. The first seconds from the seeds include libFuzzer writing
# every new input to the corpus folder, as in CI's fuzz stage, so a short run is slower per input
# than a long one.
#
# usage: scripts/fuzz-speed.sh BUILD [SECONDS] [TARGET...]
set -euo pipefail
build=${1:?build folder}
seconds=${2:-30}
shift $(($# < 2 ? $# : 2))
seeds_root="$(cd "$(dirname "$0")/.." && pwd)/fuzz/corpus"
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:malloc_context_size=10}

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in "$build"/bin/fuzz_*; do [ -x "$t" ] && targets+=("$(basename "$t")"); done
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores, ${seconds}s per target"
printf '%-26s %12s %10s %10s\n' target executions exec/s cpu-exec/s
for name in "${targets[@]}"; do
  corpus="$scratch/$name"
  mkdir -p "$corpus"
  cp "$seeds_root/$name"/* "$corpus"/ 2>/dev/null || true
  log="$scratch/$name.log"
  /usr/bin/time -f 'cpu %U %S' -o "$scratch/$name.time" \
    "$build/bin/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "$corpus" >"$log" 2>&1 || { echo "$name: failed, see below" >&2; tail -n 30 "$log" >&2; continue; }
  units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  read -r _ user sys <"$scratch/$name.time"
  awk -v n="$name" -v u="$units" -v s="$seconds" -v c="$(echo "$user + $sys" | bc)" \
    'BEGIN { printf "%-26s %12d %10.0f %10.0f\n", n, u, u / s, (c > 0 ? u / c : 0) }'
done
