// The relay check against the simulator's pressure switches, and the evaluation of the contact
// inputs on its own.
#include "verify_fixture.h"

namespace {

using quarn::test::field;
using quarn::test::QuarnTest;
using quarn::test::VerifyTest;

class ContactInputs : public QuarnTest {};

TEST_F(ContactInputs, EdgesRecordTheReferencePressure) {
  Dev.relayInputs = 0x00;  // whatever the inputs are at load, the first look records nothing
  Dev.pRef = 50;
  relayDataToDev();
  for (int k = 0; k < 8; ++k) {
    EXPECT_TRUE(std::isnan(field(Dev.relays[k].pOn)));
    EXPECT_EQ(field(Dev.relays[k].state), 0u);
  }
  EXPECT_EQ(field(Dev.relayInputsPrev), 0x00u);

  Dev.relayInputs = 0xFF;  // all open
  Dev.pRef = 90;
  relayDataToDev();
  Dev.relayInputs = 0xF7;  // input 3 closes: channel 2, relay 2
  Dev.pRef = 101.2f;
  relayDataToDev();
  EXPECT_EQ(field(Dev.relays[3].state), 1u);
  EXPECT_FLOAT_EQ(field(Dev.relays[3].pOn), 101.2f);
  EXPECT_FLOAT_EQ(field(Dev.relays[3].pOff), 90.0f) << "it opened at the previous edge";
  EXPECT_EQ(field(Dev.relays[2].state), 0u);
  EXPECT_EQ(field(Dev.relayInputsPrev), 0xF7u);

  Dev.pRef = 120;
  relayDataToDev();  // nothing changed: nothing recorded
  EXPECT_FLOAT_EQ(field(Dev.relays[3].pOn), 101.2f);
}

// A relay check of channel 1: relay 1 on contact input 0, relay 2 on input 1; channel 2 has the same
// switches on inputs 2 and 3. The input valve's source moves slowly, so the reference read in the
// cycle of a switching edge is close to the switching pressure.
quarnsim::Scenario switchBench() {
  quarnsim::Scenario s;
  s.inputTauS = 20;
  s.switches[0] = {true, 100, 5, true};
  s.switches[1] = {true, 200, 10, true};
  s.switches[2] = {true, 100, 5, true};
  s.switches[3] = {true, 200, 10, true};
  return s;
}

class RelayCheck : public VerifyTest {
 protected:
  void startCheck(bool relay1, bool relay2, const char* holdTimeS = "2") {
    ASSERT_NO_FATAL_FAILURE(connect(switchBench()));
    bench->operatorSetsPressure(50);
    quarn::data::Project p = project(2);
    p.relay.enabled = {relay1, relay2};
    p.relay.setpointKpa = {"100", "200"};
    p.relay.hysteresisKpa = {"10", "20"};
    p.readiness.holdTimeS = holdTimeS;
    ASSERT_NO_FATAL_FAILURE(start(p, {0}, true));
  }
  // Targets in the order the check announced them, and pointIdx at every change of it.
  void runCheck() {
    ASSERT_TRUE(run(
        [&] {
          const float t = Dev.pTarget;
          if (targets.empty() || targets.back() != t) targets.push_back(t);
          const int32_t idx = Dev.pointIdx;
          if (idx != 0 && (steps.empty() || steps.back() != idx)) steps.push_back(idx);
          return sawRetCode(15);
        },
        30 * 60 * 1000));
  }
  std::vector<float> targets;
  std::vector<int32_t> steps;
};

TEST_F(RelayCheck, TwoRelaysFindTheSwitchingPressures) {
  ASSERT_NO_FATAL_FAILURE(startCheck(true, true));
  ASSERT_NO_FATAL_FAILURE(runCheck());
  const std::vector<float> expected{90, 110, 90, 180, 220, 180};
  ASSERT_GE(targets.size(), expected.size());
  EXPECT_EQ(std::vector<float>(targets.end() - 6, targets.end()), expected);
  // The sixth step ends the check in the same step, which sets the counter back to 0.
  EXPECT_EQ(steps, (std::vector<int32_t>{1, 2, 3, 4, 5}));
  constexpr float kTol = 0.6f;  // the pressure moves at most this much within one cycle
  for (int ch = 0; ch < 2; ++ch) {
    SCOPED_TRACE(ch);
    EXPECT_NEAR(field(Dev.relays[2 * ch].pOn), 100.0f, kTol);
    EXPECT_NEAR(field(Dev.relays[2 * ch].pOff), 95.0f, kTol);
    EXPECT_NEAR(field(Dev.relays[2 * ch + 1].pOn), 200.0f, kTol);
    EXPECT_NEAR(field(Dev.relays[2 * ch + 1].pOff), 190.0f, kTol);
    // The check ends at 180 kPa: relay 1 (closes at 100) still closed, relay 2 open again.
    EXPECT_EQ(field(Dev.relays[2 * ch].state), 1u);
    EXPECT_EQ(field(Dev.relays[2 * ch + 1].state), 0u);
  }
  EXPECT_TRUE(std::isnan(field(Dev.relays[4].pOn))) << "nothing on channel 3";
  EXPECT_EQ(field(Dev.pointIdx), 0);
}

// Also with a readiness time of 1 s, which leaves the reference a window of a single sample.
TEST_F(RelayCheck, OnlyRelayTwoTakesThreeSteps) {
  ASSERT_NO_FATAL_FAILURE(startCheck(false, true, "1"));
  EXPECT_EQ(relayIdx, 1);
  ASSERT_NO_FATAL_FAILURE(runCheck());
  EXPECT_EQ(std::vector<float>(targets.end() - 3, targets.end()), (std::vector<float>{180, 220, 180}));
  EXPECT_EQ(steps, (std::vector<int32_t>{1, 2}));
  EXPECT_NEAR(field(Dev.relays[1].pOn), 200.0f, 0.6f);
  EXPECT_NEAR(field(Dev.relays[1].pOff), 190.0f, 0.6f);
}

// A step counts only when the reference is in the corridor of its own target: a cycle without a new
// reference sample right after the target changed (here an error answer to the measuring request)
// must not count on the corridor state of the previous target.
TEST_F(RelayCheck, CycleWithoutASampleAfterATargetChangeDoesNotSettleTheStep) {
  ASSERT_NO_FATAL_FAILURE(startCheck(true, false));
  struct Settled {
    float pRef, target, corridor;
  };
  std::vector<Settled> settled;
  quarnsim::Fault errorAnswer;
  ASSERT_EQ(quarnsim::parseFault("calibrator error 11 cmd=1 nth=1", errorAnswer), "");
  bool faultAdded = false;
  float target = NAN;  // as seen before the step that counted (which also announces the next)
  ASSERT_TRUE(run(
      [&] {
        const int32_t idx = Dev.pointIdx;
        if (idx > static_cast<int32_t>(settled.size()))
          settled.push_back({Dev.pRef, target, Dev.refStat.readyCorridor});
        target = Dev.refStat.target;
        if (idx == 0 && Dev.refStat.inCorridor && !faultAdded) {
          // The first step settles when this cycle ends; the next measuring answer, the first after
          // the move to the next target, is an error.
          bench->addFault(errorAnswer);
          faultAdded = true;
        }
        return sawRetCode(15);
      },
      30 * 60 * 1000))
      << diag();
  ASSERT_EQ(settled.size(), 2u) << "the third step ends the check";
  for (const Settled& s : settled) {
    SCOPED_TRACE(s.target);
    EXPECT_NEAR(s.pRef, s.target, s.corridor);
  }
  EXPECT_FLOAT_EQ(settled[1].target, 110.0f);
  EXPECT_NEAR(field(Dev.relays[0].pOn), 100.0f, 0.6f) << "the pressure went above the switching point";
}

}  // namespace
