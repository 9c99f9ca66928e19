#include "fake_procedures.h"

#include "link_hooks.h"
#include "quarn_core.h"
#include "steps.h"

#define FAKE_STEP(name) \
  extern "C" int32_t name(void) { return fakes::record(#name); }

FAKE_STEP(Connect)
FAKE_STEP(Connect_Loose)
FAKE_STEP(Connect_NotFound)
FAKE_STEP(MeasControl_1)
FAKE_STEP(Control)
FAKE_STEP(Check_start)
FAKE_STEP(Check_HART)
FAKE_STEP(Hart_Check_I)
FAKE_STEP(ProcBrenkextDorv)
FAKE_STEP(Hart_Search)
FAKE_STEP(Hart_ReadDeviceInfo)
FAKE_STEP(Hart_WriteAllParam)
FAKE_STEP(Hart_Tune_I)
FAKE_STEP(Hart_Tune_Trim)
FAKE_STEP(Hart_Set_0)
FAKE_STEP(Hart_ResetDev)
FAKE_STEP(HART_Exit_I_out)
FAKE_STEP(Hart_RepairMan)
FAKE_STEP(CheckRelay)
FAKE_STEP(ReadSettings)
FAKE_STEP(WriteSettings)
FAKE_STEP(Kesto_StartRead)
FAKE_STEP(Kesto_ReadErrorOpenFile)
FAKE_STEP(SetSensorType)
FAKE_STEP(WaitExtDorv_info)
FAKE_STEP(Set_0_KD)

extern "C" {

void quarn_link_purge(void) { ++fakes::purges; }
void quarn_link_startup(void) {
  ++fakes::startups;
  Dev.uailPtr = &fakes::uailRecord;
}
void quarn_link_shutdown(void) { ++fakes::shutdowns; }
void InitRelay(void) {
  ++fakes::relayInits;
  fakes::relayInitSawReadyTime = Dev.povHeader.tRdy;
}
int32_t StatValue_AddValue(TStatValue*, float v) {
  fakes::cycleSamples.push_back(v);
  return 0;
}

}  // extern "C"
