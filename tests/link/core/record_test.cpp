// The shared record: its layout as the host sees it, and the values InitDev leaves in it.
#include <cmath>
#include <cstddef>

#include "core_fixture.h"

using quarn::test::field;

namespace {

using RecordTest = CoreTest;

TEST(RecordLayout, SizeAndOffsetsOfThe64BitBuild) {
  static_assert(sizeof(void*) == 8, "this table is the 64-bit layout");
  EXPECT_EQ(sizeof(TDev), 49356u);
  EXPECT_EQ(QUARN_TDEV_SIZE, 49356u);
  EXPECT_EQ(sizeof(THartDev), 735u);
  EXPECT_EQ(sizeof(TStatValue), 1873u);
  struct Field {
    const char* name;
    size_t offset;
    size_t expected;
  };
#define FIELD(f, at) \
  Field { #f, offsetof(TDev, f), at }
  const Field fields[] = {
      FIELD(size, 0),         FIELD(signature, 4),       FIELD(model, 12),        FIELD(tick, 24),
      FIELD(deadline, 28),    FIELD(task, 32),           FIELD(taskArg, 36),      FIELD(retCode, 44),
      FIELD(checkState, 52),  FIELD(hartStage, 56),      FIELD(hartProgress, 60), FIELD(dsc, 64),
      FIELD(errCode, 88),     FIELD(errText, 92),        FIELD(linked, 100),      FIELD(linkState, 104),
      FIELD(portNo, 112),     FIELD(baroText, 116),      FIELD(sensorState, 156), FIELD(pRef, 164),
      FIELD(pRefText, 172),   FIELD(refStat, 192),       FIELD(ch, 2068),         FIELD(inputOn, 17124),
      FIELD(ventOn, 17128),   FIELD(pTarget, 17136),     FIELD(kestoOk, 17160),   FIELD(kestoCurrent, 17184),
      FIELD(chSkip, 17200),   FIELD(relayInputs, 17204), FIELD(settings, 17212),  FIELD(calInfo, 17276),
      FIELD(dorv, 17400),     FIELD(hart, 17460),        FIELD(hartCh, 20404),    FIELD(hartChk, 20412),
      FIELD(trimOn, 20524),   FIELD(povMode, 20556),     FIELD(povHeader, 20564), FIELD(cDigits, 21792),
      FIELD(devCh, 21796),    FIELD(povLo, 23300),       FIELD(points, 23308),    FIELD(pointCount, 24908),
      FIELD(pointIdx, 24912), FIELD(results, 24916),     FIELD(relayOn, 45716),   FIELD(relayP, 45720),
      FIELD(relays, 45744),   FIELD(onUpdate, 45844),    FIELD(event, 45852),     FIELD(cycleStat, 45860),
      FIELD(uailPtr, 47736),  FIELD(stepHistIdx, 47744), FIELD(stepHist, 47748),  FIELD(kestoRepeats, 49352),
  };
#undef FIELD
  for (const Field& f : fields) EXPECT_EQ(f.offset, f.expected) << f.name;
}

TEST_F(RecordTest, InitDevLeavesTheInitialValues) {
  std::memset(&Dev, 0xA5, sizeof Dev);  // every byte not named below must come back as 0
  fakes::reset();
  EXPECT_EQ(InitDev(), 0);

  EXPECT_EQ(Dev.size, QUARN_TDEV_SIZE);
  EXPECT_STREQ(Dev.signature, "TDev");
  EXPECT_TRUE(std::isnan(Dev.pRef));
  for (int k = 0; k < 4; ++k) {
    SCOPED_TRACE(k);
    EXPECT_TRUE(std::isnan(Dev.kestoCurrent[k]));
    EXPECT_EQ(Dev.chSkip[k], 1);
    const THartDev& hart = Dev.hart[k];
    EXPECT_EQ(field(hart.size), THARTDEV_SIZE);
    EXPECT_EQ(field(hart.endMark), THARTDEV_END_MARK);
    EXPECT_EQ(field(hart.outputType), 1);
    EXPECT_EQ(field(hart.found), 0u);
    EXPECT_EQ(field(hart.rxPtr), nullptr);
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(std::isnan(Dev.hartChk[k].meas[i]));
      EXPECT_TRUE(std::isnan(Dev.hartChk[k].dev[i]));
    }
    EXPECT_EQ(Dev.hartChk[k].active, 0u);
  }
  for (const TRelayResult& relay : Dev.relays) {
    EXPECT_TRUE(std::isnan(relay.pOn));
    EXPECT_TRUE(std::isnan(relay.pOff));
    EXPECT_EQ(relay.state, 0u);
  }
  EXPECT_FLOAT_EQ(Dev.settings.unitFactor, 1.0f);
  // The inverse agrees with the factor before any settings read (display unit -> kPa).
  EXPECT_FLOAT_EQ(Dev.settings.unitFactorInv, 1.0f);
  EXPECT_FLOAT_EQ(Dev.calInfo.pLimitMax, 6000.0f);
  EXPECT_EQ(Dev.povHeader.tRdy, 5);
  EXPECT_FLOAT_EQ(Dev.povHeader.dRdy, 0.05f);
  EXPECT_FLOAT_EQ(Dev.povHeader.vrCoeff, 0.7f);
  EXPECT_EQ(Dev.refStat.holdMs, 5000u);
  EXPECT_EQ(Dev.refStat.stableBand, 0.0f);
  EXPECT_EQ(Dev.cycleStat.window, 5);
  for (int i = 0; i < 3; ++i) EXPECT_STREQ(Dev.dsc[i], "");
  EXPECT_EQ(field(Dev.onUpdate), nullptr);
  EXPECT_EQ(Dev.stepHistIdx, 0);
  EXPECT_EQ(Dev.task, 0u);
  EXPECT_EQ(field(Dev.errText), nullptr);
  EXPECT_EQ(Dev.deadline, clock.now());  // a first step left pending is due at once

  // The link's start-up stores its receiver; the relay defaults run after the readiness settings.
  EXPECT_EQ(fakes::startups, 1);
  EXPECT_EQ(field(Dev.uailPtr), &fakes::uailRecord);
  EXPECT_EQ(fakes::relayInits, 1);
  EXPECT_EQ(fakes::relayInitSawReadyTime, 5);
  EXPECT_EQ(fRet[RET_CONNECT].ok, &Meas);

  // Everything else is zero: compare with a record built from zero by the same rules.
  TDev expected;
  std::memset(&expected, 0, sizeof expected);
  expected.size = Dev.size;
  expected.signature = Dev.signature;
  expected.deadline = Dev.deadline;
  expected.pRef = Dev.pRef;
  std::memcpy(expected.kestoCurrent, Dev.kestoCurrent, sizeof expected.kestoCurrent);
  std::memcpy(expected.chSkip, Dev.chSkip, sizeof expected.chSkip);
  expected.settings.unitFactor = Dev.settings.unitFactor;
  expected.settings.unitFactorInv = Dev.settings.unitFactorInv;
  expected.calInfo.pLimitMax = Dev.calInfo.pLimitMax;
  std::memcpy(expected.hart, Dev.hart, sizeof expected.hart);
  std::memcpy(expected.hartChk, Dev.hartChk, sizeof expected.hartChk);
  expected.povHeader.tRdy = Dev.povHeader.tRdy;
  expected.povHeader.dRdy = Dev.povHeader.dRdy;
  expected.povHeader.vrCoeff = Dev.povHeader.vrCoeff;
  std::memcpy(expected.relays, Dev.relays, sizeof expected.relays);
  expected.refStat.holdMs = Dev.refStat.holdMs;
  expected.cycleStat.window = Dev.cycleStat.window;
  std::memcpy(expected.dsc, Dev.dsc, sizeof expected.dsc);
  expected.uailPtr = Dev.uailPtr;
  EXPECT_EQ(std::memcmp(&expected, &Dev, sizeof Dev), 0);
  for (int k = 0; k < 4; ++k) {
    THartDev blank;
    std::memset(&blank, 0, sizeof blank);
    blank.size = THARTDEV_SIZE;
    blank.endMark = THARTDEV_END_MARK;
    blank.outputType = 1;
    EXPECT_EQ(std::memcmp(&blank, &Dev.hart[k], sizeof blank), 0) << k;
  }
}

}  // namespace
