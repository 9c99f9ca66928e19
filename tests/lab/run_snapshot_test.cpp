// A run's snapshot: what the run uses stays as the run started with it whatever the record gets
// afterwards, what the run produces follows the record; the protocol texts and method documents of
// the start.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "ProjectToDev.h"
#include "RunControl.h"
#include "RunSnapshot.h"
#include "quarn/cp1251.h"

using namespace quarn::data;

namespace {

std::string serial(const TDev& d, int c) { return std::string(d.devCh[c].sn, strnlen(d.devCh[c].sn, 40)); }

// Two 0..600 kPa channels, "A-1" and "A-2", the standard points, prepared for a run as both hosts do.
struct PreparedRun {
  PreparedRun() {
    std::memset(dev.get(), 0, sizeof(TDev));
    dev->settings.unitFactor = 1;
    dev->settings.unitFactorInv = 1;
    for (std::size_t c = 0; c < 2; ++c) {
      project.channels[c].enabled = true;
      project.channels[c].name = "Метран-150";
      project.channels[c].sn = c == 0 ? "A-1" : "A-2";
      project.channels[c].errOk = 0.5f;
    }
    project.channels[2].name = "КДД";  // switched off: no method document for it
    project.methods[0] = {" Метран-150 ", "МИ 1997-89"};
    project.methods[1] = {"КДД", "МП 2"};
    const Result<RunStart> ready = prepareVerification(project, *dev, ApplyOptions{}, false);
    EXPECT_TRUE(ready.ok()) << ready.why();
  }
  std::unique_ptr<TDev> dev = std::make_unique<TDev>();
  Project project;
};

TEST(RunSnapshot, KeepsWhatTheRunUsesAndTakesWhatItProducesFromTheRecord) {
  struct Case {
    const char* what;
    std::function<void(TDev&)> change;  // the record after the start
    std::function<double(const TDev&)> read;
    bool kept;  // the snapshot keeps the start's value; else it takes the record's
  };
  const Case cases[] = {
      {"serial (HART search)", [](TDev& d) { copyTextField(d.devCh[0].sn, sizeof d.devCh[0].sn, "501"); },
       [](const TDev& d) { return serial(d, 0) == "A-1" ? 1.0 : 0.0; }, true},
      {"tolerance", [](TDev& d) { d.devCh[1].errOk = 0.2f; }, [](const TDev& d) { return d.devCh[1].errOk; },
       true},
      {"range", [](TDev& d) { d.devCh[1].Max = 1000; }, [](const TDev& d) { return d.devCh[1].Max; }, true},
      {"channel switched on", [](TDev& d) { d.devCh[3].enabled = 1; },
       [](const TDev& d) { return d.devCh[3].enabled; }, true},
      {"analysis coefficient", [](TDev& d) { d.povHeader.vrCoeff = 0.9f; },
       [](const TDev& d) { return d.povHeader.vrCoeff; }, true},
      {"results' decimals", [](TDev& d) { d.cDigits = 5; }, [](const TDev& d) { return d.cDigits; }, true},
      {"display unit", [](TDev& d) { d.settings.unitFactor = 0.001f; },
       [](const TDev& d) { return d.settings.unitFactor; }, true},
      {"verification range", [](TDev& d) { d.povSpan = 1000; }, [](const TDev& d) { return d.povSpan; },
       true},
      {"points", [](TDev& d) { d.points[1].prc = 33; }, [](const TDev& d) { return d.points[1].prc; }, true},
      {"relay setting", [](TDev& d) { d.relayP[0] = 77; }, [](const TDev& d) { return d.relayP[0]; }, true},
      {"mode", [](TDev& d) { d.povMode = 1; }, [](const TDev& d) { return d.povMode; }, true},
      {"a result",
       [](TDev& d) {
         d.results[0].valid = 1;
         d.results[0].pRef = 300;
       },
       [](const TDev& d) { return d.results[0].pRef; }, false},
      {"point reached", [](TDev& d) { d.pointIdx = 2; }, [](const TDev& d) { return d.pointIdx; }, false},
      {"points recorded by hand", [](TDev& d) { d.pointCount = 12; },
       [](const TDev& d) { return d.pointCount; }, false},
      {"relay contact", [](TDev& d) { d.relays[3].pOn = 101.5f; },
       [](const TDev& d) { return d.relays[3].pOn; }, false},
      {"reference's upper limit", [](TDev& d) { d.refUpper = 250; }, [](const TDev& d) { return d.refUpper; },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PreparedRun r;
    RunSnapshot run(*r.dev, r.project, {});
    const double atStart = c.read(*r.dev);
    c.change(*r.dev);
    const double later = c.read(*r.dev);
    ASSERT_NE(atStart, later) << "the case changes nothing";
    run.follow(*r.dev);
    EXPECT_EQ(c.read(run.record()), c.kept ? atStart : later);
    // A copy is a run of its own.
    RunSnapshot copy = run;
    copy.follow(*r.dev);
    EXPECT_EQ(c.read(copy.record()), c.read(run.record()));
  }
}

TEST(RunSnapshot, KeepsTheProtocolTextsAndTheDevicesMethodDocumentsOfTheStart) {
  PreparedRun r;
  RunSnapshot run(*r.dev, r.project, {{"amp_D1_SH_NUM", "17/2026"}});
  r.project.methods[0].document = "МИ 2124-90";  // the list changed after the start

  EXPECT_EQ(run.protocolFields(), (ProtocolFields{{"amp_D1_SH_NUM", "17/2026"}}));
  EXPECT_EQ(run.channelMethods()[0], "МИ 1997-89");
  EXPECT_EQ(run.channelMethods()[1], "МИ 1997-89");
  EXPECT_EQ(run.channelMethods()[2], "") << "a channel that is off";
  EXPECT_EQ(run.methodStatement(), "МИ 1997-89");
  EXPECT_EQ(run.pointSet(), 1);
  EXPECT_TRUE(run.anyChannelEnabled());
  EXPECT_FALSE(run.relayCheck());
}

TEST(RunSnapshot, DeletionsTouchOnlyTheRunsResults) {
  PreparedRun r;
  for (int k = 0; k < 3; ++k) r.dev->results[k].valid = 1;
  RunSnapshot run(*r.dev, r.project, {});
  run.deleteResult(1);
  run.deleteResult(-1);   // no such record: nothing happens
  run.deleteResult(200);  // beyond the table
  EXPECT_EQ(run.record().results[0].valid, 1u);
  EXPECT_EQ(run.record().results[1].valid, 0u);
  EXPECT_EQ(run.record().results[2].valid, 1u);
  EXPECT_EQ(r.dev->results[1].valid, 1u);
  run.deleteAllResults();
  for (const TPovResult& x : run.record().results) EXPECT_EQ(x.valid, 0u);
}

}  // namespace
