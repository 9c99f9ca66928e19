// Stand-ins for the steps of the areas' procedure tables and for the link's hooks, registered the way
// the library registers its areas.
#include "fake_procedures.h"

#include "areas.h"
#include "calibrator/calibrator.h"
#include "calibrator/procedure_state.h"
#include "calibrator/verification.h"
#include "core/quarn_core.h"
#include "core/registry.h"
#include "hart/hart_procedures.h"

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

// The calibrator area's start hook resets the procedures' own state, which this program does not have.
namespace quarn::cal {
void resetProcedureState() {}
}  // namespace quarn::cal

extern "C" void InitRelay(void) {
  ++fakes::relayInits;
  fakes::relayInitSawReadyTime = Dev.povHeader.tRdy;
}

namespace {

// The link's hooks, in place of the UAIL area.
const quarn::core::Area kFakeLinkArea{
    .name = "fake link",
    .procedures = {},
    .start =
        [] {
          ++fakes::startups;
          Dev.uailPtr = &fakes::uailRecord;
        },
    .shutdown = [] { ++fakes::shutdowns; },
    .purge = [] { ++fakes::purges; },
};

const bool kRegistered = quarn::core::registerArea(kFakeLinkArea) &&
                         quarn::core::registerArea(quarn::link::kCalibratorArea) &&
                         quarn::core::registerArea(quarn::link::kHartArea);

}  // namespace

namespace fakes {

bool areasRegistered() { return kRegistered; }

}  // namespace fakes
