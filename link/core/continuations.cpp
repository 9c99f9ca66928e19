// The continuation table fRet and the Begin_ entry points that start a procedure with a given pair.
#include "quarn_core.h"
#include "weak_refs.h"

extern "C" {

QUARN_API TRetPair fRet[RET_COUNT] = {};

QUARN_API void Init_ReturnFns(void) {
  for (TRetPair& pair : fRet) pair = TRetPair{Meas, Meas};
  fRet[RET_CONNECT] = {Meas, Connect};
  fRet[RET_CONNECT_LOOSE] = {Connect, Connect};
  fRet[RET_MEAS_CONTROL] = {Meas, Connect_NotFound};
  // The HART current check has no initial pair; whoever starts it writes one.
  fRet[RET_HART_CHECK_I] = {nullptr, nullptr};
}

QUARN_API void Init_ReturnFnsMeasControl(TRetPair* pair) {
  if (pair) *pair = TRetPair{Meas, Meas};
}

}  // extern "C"

namespace {

// Stores the pair and schedules the procedure's first step for the next timer call. A procedure that
// is not part of this build is not scheduled; whatever was pending stays pending.
int32_t begin(int slot, TStepFn first, TStepFn ok, TStepFn err) {
  fRet[slot] = TRetPair{ok, err};
  if (first) ToNext0(first);
  return 0;
}

}  // namespace

// Default entry points. They are weak so that a procedure's own area may define its entry point
// itself; the behaviour is the same either way.
#define QUARN_BEGIN(name, slot, first)                                               \
  extern "C" QUARN_API __attribute__((weak)) int32_t name(TStepFn ok, TStepFn err) { \
    return begin(slot, first, ok, err);                                              \
  }

QUARN_BEGIN(Begin_Connect, RET_CONNECT, Connect)
QUARN_BEGIN(Begin_ConnectLoose, RET_CONNECT_LOOSE, Connect_Loose)
QUARN_BEGIN(Begin_MeasControl, RET_MEAS_CONTROL, MeasControl_1)
QUARN_BEGIN(Begin_Control, RET_CONTROL, Control)
QUARN_BEGIN(Begin_Check, RET_CHECK, Check_start)
QUARN_BEGIN(Begin_CheckHart, RET_CHECK_HART, Check_HART)
QUARN_BEGIN(Begin_Check_I, RET_HART_CHECK_I, Hart_Check_I)
QUARN_BEGIN(Begin_ProcBrenkextDorv, RET_PROC_BRENK_EXT_DORV, ProcBrenkextDorv)
QUARN_BEGIN(Begin_Hart_Search, RET_HART_SEARCH, Hart_Search)
QUARN_BEGIN(Begin_Hart_ReadDevInfo, RET_HART_READ_DEV_INFO, Hart_ReadDeviceInfo)
QUARN_BEGIN(Begin_Hart_WriteAllParam, RET_HART_WRITE_ALL_PARAM, Hart_WriteAllParam)
QUARN_BEGIN(Begin_Hart_Tune_I, RET_HART_TUNE_I, Hart_Tune_I)
QUARN_BEGIN(Begin_Hart_Tune_Trim, RET_HART_TUNE_TRIM, Hart_Tune_Trim)
QUARN_BEGIN(Begin_Hart_Set_0, RET_HART_SET_0, Hart_Set_0)
QUARN_BEGIN(Begin_Hart_ResetDev, RET_HART_RESET_DEV, Hart_ResetDev)
QUARN_BEGIN(Begin_Hart_Exit_I_out, RET_HART_EXIT_I_OUT, HART_Exit_I_out)
QUARN_BEGIN(Begin_Hart_RepairManuf, RET_HART_REPAIR_MAN, Hart_RepairMan)
QUARN_BEGIN(Begin_SettingsRead, RET_READ_SETTINGS, ReadSettings)
QUARN_BEGIN(Begin_SettingsWrite, RET_WRITE_SETTINGS, WriteSettings)
QUARN_BEGIN(Begin_Kesto_Meas, RET_KESTO_START_READ, Kesto_StartRead)
QUARN_BEGIN(Begin_Kesto_ReadErrNC, RET_KESTO_READ_ERR, Kesto_ReadErrorOpenFile)
QUARN_BEGIN(Begin_SetSensorType, RET_SET_SENSOR_TYPE, SetSensorType)
QUARN_BEGIN(Begin_RedExtDorv_Info, RET_WAIT_EXT_DORV_INFO, WaitExtDorv_info)
QUARN_BEGIN(Begin_Set_0_KD, RET_SET_0_KD, Set_0_KD)
