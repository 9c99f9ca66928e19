// The calibrator's procedures as the core sees them: one row per procedure (its continuation slot,
// first step, the pair its slot holds from start-up, the SetTask numbers that start it and the pair
// they write), the Begin_ entry points, and the start hook: the procedures' own state back to its
// initial values and the relay check's defaults.
#include "areas.h"
#include "calibrator/calibrator.h"
#include "calibrator/procedure_state.h"
#include "calibrator/verification.h"
#include "core/registry.h"

namespace {

using quarn::core::kEndInMeas;
using quarn::core::Procedure;

// clang-format off
constexpr Procedure kProcedures[] = {
    // slot                   first step               pair from start-up        tasks                              pair the tasks write
    {RET_CONNECT,             Connect,                 {Meas, Connect},          {TASK_CONNECT},                    {Meas, Connect}},
    {RET_CONNECT_LOOSE,       Connect_Loose,           {Connect, Connect}},
    {RET_MEAS_CONTROL,        MeasControl_1,           {Meas, Connect_NotFound}, {TASK_MEASURE, TASK_MEASURE_REGUL}, {Meas, Connect_Loose}},
    {RET_CONTROL,             Control,                 kEndInMeas,               {TASK_CONTROL},                    kEndInMeas},
    {RET_CHECK,               Check_start,             kEndInMeas,               {TASK_CHECK},                      kEndInMeas},
    {RET_PROC_BRENK_EXT_DORV, ProcBrenkextDorv,        kEndInMeas},
    {RET_CHECK_RELAY,         CheckRelay,              kEndInMeas},
    {RET_READ_SETTINGS,       ReadSettings,            kEndInMeas,               {TASK_SETTINGS_READ},              kEndInMeas},
    {RET_WRITE_SETTINGS,      WriteSettings,           kEndInMeas,               {TASK_SETTINGS_WRITE},             kEndInMeas},
    {RET_KESTO_START_READ,    Kesto_StartRead,         kEndInMeas},
    {RET_KESTO_READ_ERR,      Kesto_ReadErrorOpenFile, kEndInMeas},
    {RET_SET_SENSOR_TYPE,     SetSensorType,           kEndInMeas,               {TASK_SET_SENSOR_TYPE},            kEndInMeas},
    {RET_WAIT_EXT_DORV_INFO,  WaitExtDorv_info,        kEndInMeas},
    {RET_SET_0_KD,            Set_0_KD,                kEndInMeas,               {TASK_SET_0_KD},                   kEndInMeas},
};
// clang-format on

void startCalibratorArea() {
  quarn::cal::resetProcedureState();
  InitRelay();
}

}  // namespace

namespace quarn::link {

constinit const core::Area kCalibratorArea{
    .name = "calibrator",
    .procedures = kProcedures,
    .start = startCalibratorArea,
};

}  // namespace quarn::link

using quarn::core::begin;

extern "C" {

QUARN_API int32_t Begin_Connect(TStepFn ok, TStepFn err) { return begin(RET_CONNECT, ok, err); }
QUARN_API int32_t Begin_ConnectLoose(TStepFn ok, TStepFn err) { return begin(RET_CONNECT_LOOSE, ok, err); }
QUARN_API int32_t Begin_MeasControl(TStepFn ok, TStepFn err) { return begin(RET_MEAS_CONTROL, ok, err); }
QUARN_API int32_t Begin_Control(TStepFn ok, TStepFn err) { return begin(RET_CONTROL, ok, err); }
QUARN_API int32_t Begin_Check(TStepFn ok, TStepFn err) { return begin(RET_CHECK, ok, err); }
QUARN_API int32_t Begin_ProcBrenkextDorv(TStepFn ok, TStepFn err) {
  return begin(RET_PROC_BRENK_EXT_DORV, ok, err);
}
QUARN_API int32_t Begin_SettingsRead(TStepFn ok, TStepFn err) { return begin(RET_READ_SETTINGS, ok, err); }
QUARN_API int32_t Begin_SettingsWrite(TStepFn ok, TStepFn err) { return begin(RET_WRITE_SETTINGS, ok, err); }
QUARN_API int32_t Begin_Kesto_Meas(TStepFn ok, TStepFn err) { return begin(RET_KESTO_START_READ, ok, err); }
QUARN_API int32_t Begin_Kesto_ReadErrNC(TStepFn ok, TStepFn err) {
  return begin(RET_KESTO_READ_ERR, ok, err);
}
QUARN_API int32_t Begin_SetSensorType(TStepFn ok, TStepFn err) { return begin(RET_SET_SENSOR_TYPE, ok, err); }
QUARN_API int32_t Begin_RedExtDorv_Info(TStepFn ok, TStepFn err) {
  return begin(RET_WAIT_EXT_DORV_INFO, ok, err);
}
QUARN_API int32_t Begin_Set_0_KD(TStepFn ok, TStepFn err) { return begin(RET_SET_0_KD, ok, err); }

}  // extern "C"
