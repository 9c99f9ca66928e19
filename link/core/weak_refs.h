// Weak references from the core to the procedures of the other areas and to the link hooks.
//
// Included only by the core's own sources: it turns the declarations of steps.h and link_hooks.h
// into weak references, so an absent procedure reads as null instead of failing the link. A source
// that defines one of these functions must not include this header.
#pragma once

#include "TDev.h"
#include "link_hooks.h"
#include "steps.h"

extern "C" {

#define QUARN_WEAK __attribute__((weak))

QUARN_WEAK int32_t Connect(void);
QUARN_WEAK int32_t Connect_Loose(void);
QUARN_WEAK int32_t Connect_NotFound(void);
QUARN_WEAK int32_t MeasControl_1(void);
QUARN_WEAK int32_t Control(void);
QUARN_WEAK int32_t Check_start(void);
QUARN_WEAK int32_t Check_HART(void);
QUARN_WEAK int32_t Hart_Check_I(void);
QUARN_WEAK int32_t ProcBrenkextDorv(void);
QUARN_WEAK int32_t Hart_Search(void);
QUARN_WEAK int32_t Hart_ReadDeviceInfo(void);
QUARN_WEAK int32_t Hart_WriteAllParam(void);
QUARN_WEAK int32_t Hart_Tune_I(void);
QUARN_WEAK int32_t Hart_Tune_Trim(void);
QUARN_WEAK int32_t Hart_Set_0(void);
QUARN_WEAK int32_t Hart_ResetDev(void);
QUARN_WEAK int32_t HART_Exit_I_out(void);
QUARN_WEAK int32_t Hart_RepairMan(void);
QUARN_WEAK int32_t CheckRelay(void);
QUARN_WEAK int32_t ReadSettings(void);
QUARN_WEAK int32_t WriteSettings(void);
QUARN_WEAK int32_t Kesto_StartRead(void);
QUARN_WEAK int32_t Kesto_ReadErrorOpenFile(void);
QUARN_WEAK int32_t SetSensorType(void);
QUARN_WEAK int32_t WaitExtDorv_info(void);
QUARN_WEAK int32_t Set_0_KD(void);

QUARN_WEAK void quarn_link_startup(void);
QUARN_WEAK void quarn_link_shutdown(void);
QUARN_WEAK void quarn_link_purge(void);
QUARN_WEAK void InitRelay(void);

// The statistics operation of the calibrator area (cycle-time statistic).
QUARN_WEAK int32_t StatValue_AddValue(TStatValue* s, float v);

}  // extern "C"
