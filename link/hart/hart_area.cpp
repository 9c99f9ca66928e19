// The HART procedures as the core sees them: one row per procedure (its continuation slot, first
// step, the pair its slot holds from start-up, the SetTask number that starts it and the pair it
// writes) and the Begin_ entry points.
#include "areas.h"
#include "core/registry.h"
#include "hart/hart_procedures.h"

namespace {

using quarn::core::kEndInMeas;
using quarn::core::Procedure;

// The current check has no pair until whoever starts it writes one.
constexpr TRetPair kNoPair{nullptr, nullptr};

// clang-format off
constexpr Procedure kProcedures[] = {
    // slot                    first step           pair from start-up  task                    pair the task writes
    {RET_CHECK_HART,           Check_HART,          kEndInMeas,         {TASK_CHECK_HART},      kEndInMeas},
    {RET_HART_CHECK_I,         Hart_Check_I,        kNoPair,            {TASK_HART_CHECK_I},    kEndInMeas},
    {RET_HART_SEARCH,          Hart_Search,         kEndInMeas,         {TASK_HART_SEARCH},     kEndInMeas},
    {RET_HART_READ_DEV_INFO,   Hart_ReadDeviceInfo, kEndInMeas},
    {RET_HART_WRITE_ALL_PARAM, Hart_WriteAllParam,  kEndInMeas,         {TASK_HART_WRITE},      kEndInMeas},
    {RET_HART_TUNE_I,          Hart_Tune_I,         kEndInMeas,         {TASK_HART_TUNE_I},     kEndInMeas},
    {RET_HART_TUNE_TRIM,       Hart_Tune_Trim,      kEndInMeas,         {TASK_HART_TUNE_TRIM},  kEndInMeas},
    {RET_HART_SET_0,           Hart_Set_0,          kEndInMeas,         {TASK_HART_SET_0},      kEndInMeas},
    {RET_HART_RESET_DEV,       Hart_ResetDev,       kEndInMeas,         {TASK_HART_RESET},      kEndInMeas},
    {RET_HART_EXIT_I_OUT,      HART_Exit_I_out,     kEndInMeas,         {TASK_HART_EXIT_I_OUT}, kEndInMeas},
    {RET_HART_REPAIR_MAN,      Hart_RepairMan,      kEndInMeas,         {TASK_HART_REPAIR_MAN}, kEndInMeas},
};
// clang-format on

}  // namespace

namespace quarn::link {

constinit const core::Area kHartArea{
    .name = "hart",
    .procedures = kProcedures,
};

}  // namespace quarn::link

using quarn::core::begin;

extern "C" {

QUARN_API int32_t Begin_CheckHart(TStepFn ok, TStepFn err) { return begin(RET_CHECK_HART, ok, err); }
QUARN_API int32_t Begin_Check_I(TStepFn ok, TStepFn err) { return begin(RET_HART_CHECK_I, ok, err); }
QUARN_API int32_t Begin_Hart_Search(TStepFn ok, TStepFn err) { return begin(RET_HART_SEARCH, ok, err); }
QUARN_API int32_t Begin_Hart_ReadDevInfo(TStepFn ok, TStepFn err) {
  return begin(RET_HART_READ_DEV_INFO, ok, err);
}
QUARN_API int32_t Begin_Hart_WriteAllParam(TStepFn ok, TStepFn err) {
  return begin(RET_HART_WRITE_ALL_PARAM, ok, err);
}
QUARN_API int32_t Begin_Hart_Tune_I(TStepFn ok, TStepFn err) { return begin(RET_HART_TUNE_I, ok, err); }
QUARN_API int32_t Begin_Hart_Tune_Trim(TStepFn ok, TStepFn err) { return begin(RET_HART_TUNE_TRIM, ok, err); }
QUARN_API int32_t Begin_Hart_Set_0(TStepFn ok, TStepFn err) { return begin(RET_HART_SET_0, ok, err); }
QUARN_API int32_t Begin_Hart_ResetDev(TStepFn ok, TStepFn err) { return begin(RET_HART_RESET_DEV, ok, err); }
QUARN_API int32_t Begin_Hart_Exit_I_out(TStepFn ok, TStepFn err) {
  return begin(RET_HART_EXIT_I_OUT, ok, err);
}
QUARN_API int32_t Begin_Hart_RepairManuf(TStepFn ok, TStepFn err) {
  return begin(RET_HART_REPAIR_MAN, ok, err);
}

}  // extern "C"
