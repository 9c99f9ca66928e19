// Fixture of the verification-run and relay-check tests: the in-process simulator on port 7, a
// project applied to the record the way the hosts apply it, and an operator who brings the Quarn's
// pressure to every new target the library asks for. Everything runs in virtual time.
#pragma once

#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ParamsCheck.h"
#include "ProjectToDev.h"
#include "RunControl.h"
#include "calibrator/verification.h"
#include "calibrator_fixture.h"
#include "quarnsim/engine.h"
#include "sim_vport.h"

namespace quarn::test {

inline constexpr uint32_t kSimPort = 7;

class VerifyTest : public CalibratorTest {
 protected:
  void TearDown() override {
    port.reset();
    bench.reset();
    CalibratorTest::TearDown();
  }

  // Starts the bench and connects the library to it.
  void connect(const quarnsim::Scenario& s, uint32_t model = 1) {
    bench = std::make_unique<quarnsim::Engine>(s);
    port = std::make_unique<SimVport>(kSimPort, bench->calibratorPort());
    startConnect(model, kSimPort);
    ASSERT_TRUE(linkedAndMeasuring());
    // The first control pass after loading sends the record's valve states; let it happen before
    // the operator touches the valves.
    ASSERT_TRUE(runCycles(2));
  }

  // Four 0..600 kPa 4..20 mA channels (the first `enabled` of them on), ready to be changed.
  static data::Project project(int enabled = 4) {
    data::Project p;
    for (int c = 0; c < 4; ++c) {
      data::ChannelParams& ch = p.channels[c];
      ch.enabled = c < enabled;
      ch.unit = "кПа";
      ch.Min = 0;
      ch.Max = 600;
      ch.errOk = 0.5f;
    }
    p.readiness.holdTimeS = std::string("2");  // a move (GCC 12 -O3 -Wrestrict false alarm)
    p.readiness.bandPrc = "0.05";
    p.readiness.vrCoeff = "0.7";
    return p;
  }

  // Applies the project as the parameters screen does, then prepares the run with the given points
  // (percent) and starts task 21.
  void start(const data::Project& p, const std::vector<float>& points, bool relayMode = false) {
    const data::ParamsCheck check = data::applyProjectToDev(p, Dev);
    ASSERT_TRUE(check.valid) << check.message;
    data::PointSet set{};
    for (size_t i = 0; i < points.size(); ++i) set[i] = {true, points[i], 0};
    const data::Result<data::RunStart> r = data::prepareRun(Dev, set, relayMode, false);
    ASSERT_TRUE(r.ok()) << r.why();
    notices().clear();
    SetTask(TASK_CHECK, nullptr);
  }

  // Timer periods until `done`; the operator follows the library's target while `operatorFollows`.
  bool run(const std::function<bool()>& done, uint32_t maxMs) {
    return runUntil(
        [&] {
          if (operatorFollows && bench && Dev.pTarget != operatorTarget && !std::isnan(Dev.pTarget)) {
            operatorTarget = Dev.pTarget;
            bench->operatorSetsPressure(operatorTarget);
          }
          return done();
        },
        maxMs);
  }

  // The run's state, for a failure message.
  std::string diag() const {
    std::ostringstream o;
    o << "pointIdx " << Dev.pointIdx << " pTarget " << Dev.pTarget << " pRef " << Dev.pRef << " bench "
      << (bench ? bench->pressureKPa() : NAN) << " input " << Dev.inputOn << "/"
      << (bench ? bench->inputValveOpen() : 0) << " ref inCorridor " << int(Dev.refStat.inCorridor)
      << " changed " << int(Dev.refStat.corridorChanged) << " corridor " << Dev.refStat.readyCorridor
      << " window " << Dev.refStat.window << " task " << Dev.task << " oldMode " << _oldControl_Mode
      << " mode " << Dev.controlMode;
    for (int c = 0; c < 4; ++c)
      o << " | ch" << c << " en " << Dev.devCh[c].enabled << " stable " << int(Dev.ch[c].pStat.stable)
        << " hold " << Dev.ch[c].pStat.holdLeftS << " band " << Dev.ch[c].pStat.stableBand << " hms "
        << Dev.ch[c].pStat.holdMs << " cnt " << Dev.ch[c].pStat.count << " p " << Dev.ch[c].pFromIKPa
        << " err " << Dev.ch[c].reducedError;
    return o.str();
  }

  static bool sawRetCode(uint32_t code) {
    for (const Notice& n : notices())
      if (n.retCode == code) return true;
    return false;
  }
  static bool finished() { return sawRetCode(14); }

  std::unique_ptr<quarnsim::Engine> bench;
  std::unique_ptr<SimVport> port;
  bool operatorFollows = true;
  float operatorTarget = NAN;
};

}  // namespace quarn::test
