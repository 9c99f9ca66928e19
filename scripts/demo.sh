#!/usr/bin/env bash
# The project's main job on its embedded default. Grows as the hosts and the simulator land.
set -euo pipefail
build=${1:-build/release}
lib="$build/bin/libquarn.so"
echo "libquarn: $lib"
nm -D --defined-only "$lib" | awk '{print $3}' | grep -E '^(SetTask|TimerProc|Dev|InitDll|ExitDll)$' | sort
