#!/bin/sh
# The library exports the workstation's C surface by its plain names and no C++-mangled internals.
# Usage: check_exports.sh <nm> <libquarn.so>
set -u
nm_tool=$1
lib=$2
symbols=$("$nm_tool" -D --defined-only "$lib" | awk '{print $NF}') || exit 1
status=0
for name in SetTask TimerProc ToNext0 ToNext ToNextOnError SetTimerProc KillTimerProc Init_ReturnFns \
  Init_ReturnFnsMeasControl Meas Update InitDll ExitDll InitDev _SetDevErrorCode ClearDevErrorCode \
  SetDevRetCode Clear_dscAll Dev OnTimer cTimerDelay TimerID cRepeat fRet dsc_ hDebugList \
  quarn_timer_fd quarn_timer_dispatch quarn_set_clock quarn_set_log quarn_cycle_readings quarn_uail_answer_error \
  Begin_Connect Begin_Set_0_KD; do
  if ! printf '%s\n' "$symbols" | grep -qx "$name"; then
    echo "missing export: $name"
    status=1
  fi
done
mangled=$(printf '%s\n' "$symbols" | grep '^_Z' || true)
if [ -n "$mangled" ]; then
  echo "C++-mangled exports:"
  printf '%s\n' "$mangled" | head -20
  status=1
fi
exit $status
