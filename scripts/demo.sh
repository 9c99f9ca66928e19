#!/usr/bin/env bash
# The project's main job on its embedded default: the headless host against the built-in simulator.
set -euo pipefail
build=${1:-build/release}
bin="$build/bin"
echo "== calibrator found by the headless host (simulator on a pseudo-terminal)"
"$bin/quarn-cli" --sim probe
echo "== five measuring cycles"
"$bin/quarn-cli" --sim measure --cycles 5
