#!/usr/bin/env bash
# Runs the tests of a build folder with ctest, then scripts/check-skips.py over their reports.
#   scripts/run-tests.sh BUILD [--strict] [--allow FILE] [VAR=VALUE ...]
# (JOBS, REALTIME_JOBS from the environment; --strict and --allow go to the skip check).
#
# Tests labelled "realtime" (quarn-sim on a pseudo-terminal, real timeouts) spend their time waiting,
# not computing: they run in a ctest of their own with REALTIME_JOBS at once (default 6, above the
# core count), beside the ctest of every other test with JOBS at once (default: the cores), so their
# waiting overlaps with the rest. Every GoogleTest case writes its XML report to BUILD/test-results/,
# each ctest its JUnit report there (ctest.xml, ctest-realtime.xml).
set -euo pipefail
build=${1:?build folder}
shift
root="$(cd "$(dirname "$0")/.." && pwd)"
skip_check=()
while [ $# -gt 0 ]; do
  case "$1" in
    --strict) skip_check+=(--strict) ;;
    --allow)
      skip_check+=(--allow "$(cd "$(dirname "$2")" && pwd)/$(basename "$2")")
      shift
      ;;
    *=*) export "${1?}" ;;
    *)
      echo "run-tests: unknown argument $1" >&2
      exit 2
      ;;
  esac
  shift
done
jobs=${JOBS:-$(nproc)}
realtime_jobs=${REALTIME_JOBS:-6}
results="$(cd "$build" && pwd)/test-results"
rm -rf "$results"
mkdir -p "$results"
export QT_QPA_PLATFORM=offscreen GTEST_OUTPUT="xml:$results/"

cd "$build"
# The cases of every GoogleTest program are listed once, before two ctest runs would list them at
# the same time (without GTEST_OUTPUT: a listing would write a report of cases that did not run).
env -u GTEST_OUTPUT ctest -N >/dev/null
ctest --output-on-failure -L realtime -j "$realtime_jobs" --output-junit test-results/ctest-realtime.xml \
  >"$results/realtime.log" 2>&1 &
realtime=$!
status=0
ctest --output-on-failure -LE realtime -j "$jobs" --output-junit test-results/ctest.xml || status=$?
realtime_status=0
wait "$realtime" || realtime_status=$?
echo "=== tests that wait in real time (ctest -L realtime -j $realtime_jobs)"
cat "$results/realtime.log"
cd "$root"
skips_status=0
./scripts/check-skips.py "$results" "${skip_check[@]}" || skips_status=$?
[ "$status" -eq 0 ] && [ "$realtime_status" -eq 0 ] && [ "$skips_status" -eq 0 ]
