#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time, starting from its committed seed corpus
# (fuzz/corpus/<target>/). Fails on a crash report, on a target without seeds, and when the build
# holds no target at all.
#
# Each target is one single-threaded process, so FUZZ_JOBS of them (default 2, one per core of the
# CI machine) run side by side; every target still gets its full time.
set -euo pipefail
build=${1:?build folder}
seconds=${2:-20}
jobs_max=${FUZZ_JOBS:-2}
seeds_root="$(cd "$(dirname "$0")/.." && pwd)/fuzz/corpus"
# A smaller quarantine keeps freed memory warm instead of touching fresh pages for every input, and
# shorter allocation stacks cost less to record; every check stays (a caller's ASAN_OPTIONS wins).
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:malloc_context_size=10}
shopt -s nullglob

targets=()
for target in "$build"/bin/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  # Every target's seeds are checked before any runs, so a missing corpus fails at once.
  if [ -z "$(ls -A "$seeds_root/$name" 2>/dev/null)" ]; then
    echo "fuzz: $name has no seed corpus in fuzz/corpus/$name" >&2
    exit 1
  fi
  targets+=("$target")
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no fuzz target in $build/bin (was the fuzz build configured with -DQUARN_FUZZ=ON?)" >&2
  exit 1
fi

# One target; its status goes to $build/<name>.status, since a background job's status is easy to
# lose once another job has been waited for.
run_one() {
  local target=$1 name seeds corpus status=0
  name=$(basename "$target")
  seeds="$seeds_root/$name"
  # New inputs go to the build's own corpus; the committed seeds are only read.
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/$name-" "$corpus" "$seeds" >"$build/$name.log" 2>&1 || status=$?
  echo "$status" >"$build/$name.status"
  # One block of output per target, written at once, so the lines of two targets do not interleave.
  local report
  report="fuzz: $name for ${seconds}s ($(ls "$seeds" | wc -l) seeds): "
  if [ "$status" -eq 0 ]; then
    report+="clean"$'\n'"$(grep -E '^stat::number_of_executed_units' "$build/$name.log" || true)"
  else
    report+="FAILED (status $status)"$'\n'"$(tail -n 60 "$build/$name.log")"
  fi
  printf '%s\n' "$report"
}

rm -f "$build"/fuzz_*.status
echo "fuzz: ${#targets[@]} targets, $jobs_max at a time, ${seconds}s each"
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs_max" ]; do
    wait -n || true
  done
  run_one "$target" &
done
wait

failed=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  status=$(cat "$build/$name.status" 2>/dev/null || echo missing)
  if [ "$status" != 0 ]; then
    echo "fuzz: $name failed (status $status; log $build/$name.log)" >&2
    failed=1
  fi
done
[ "$failed" -eq 0 ] || exit 1
echo "fuzz: ${#targets[@]} targets ran clean"
