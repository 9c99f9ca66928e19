#!/usr/bin/env bash
# Writes the seed corpus of fuzz_history_file (fuzz/corpus/fuzz_history_file): small histories made
# by history_fill of a build (runs of one device with three points), shrunk to 512-byte pages so a seed
# is a few kilobytes.
# usage: bench/history/make_fuzz_seeds.sh BUILD_FOLDER
set -euo pipefail
build=${1:?build folder with bin/history_fill}
out="$(cd "$(dirname "$0")/../.." && pwd)/fuzz/corpus/fuzz_history_file"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out"
make_seed() {  # name runs [--every-kind]
  QUARN_HISTORY_FILL_SHAPE=1x3 "$build/bin/history_fill" "$work/$1.db" "$2" ${3:-}
  sqlite3 "$work/$1.db" "PRAGMA journal_mode = DELETE; PRAGMA page_size = 512; VACUUM;" >/dev/null
  cp "$work/$1.db" "$out/$1"
}
make_seed one_run 1
make_seed every_kind 2 --every-kind
make_seed three_runs 3
ls -l "$out"
