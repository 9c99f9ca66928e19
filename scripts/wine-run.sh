#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine: wine-run.sh PREFIX PROGRAM [ARGS...]
# PREFIX is the build's own Wine prefix, made on first use (one maker at a time when ctest runs
# programs side by side). Wine's own messages are off (WINEDEBUG=-all unless set). A GoogleTest report
# path given as a Linux path (GTEST_OUTPUT=xml:/...) reaches the program through drive Z:.
set -euo pipefail
prefix=$1
shift
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
case "${GTEST_OUTPUT:-}" in
  xml:/*) export GTEST_OUTPUT="xml:Z:${GTEST_OUTPUT#xml:}" ;;
esac
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      # No Mono and no Gecko: nothing here needs them, and they would be looked for on the network.
      WINEDLLOVERRIDES="mscoree=;mshtml=" wine wineboot --init >/dev/null 2>&1
      wineserver --wait
    fi
  ) 9>"$prefix.lock"
fi
exec wine "$@"
