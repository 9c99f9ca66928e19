// Channel conversion: currents into pressures and reduced errors; the Kesto data transfer.
#include <cmath>
#include <cstring>

#include "calibrator/calibrator.h"
#include "quarn_core.h"
#include "virtual_clock.h"

namespace {

using quarn::test::QuarnTest;

class ChannelConversion : public QuarnTest {
 protected:
  void SetUp() override {
    QuarnTest::SetUp();
    for (int k = 0; k < 4; ++k) {
      TDevChannel& c = Dev.devCh[k];
      c.Min = 0;
      c.Max = 100;
      c.el_Min = 4;
      c.el_Max = 20;
      c.toKpaMul = 1;
      c.fnCode = 0;
      Dev.ch[k].pStat.window = Dev.ch[k].iStat.window = 5;
    }
    Dev.kestoDataValid = 1;
    Dev.sensorType = 8;
    Dev.pRef = 50;
  }
};

TEST_F(ChannelConversion, TransferFunctionsAndUnits) {
  struct Case {
    const char* what;
    int32_t fnCode;
    float min, max, elMin, elMax, toKpa;
    uint32_t sensorType;
    float raw;
    float current, pFromI, pFromIKPa, reducedError;
  };
  const Case cases[] = {
      {"linear mid-range", 0, 0, 100, 4, 20, 1, 8, 12, 12, 50, 50, 0},
      {"linear below the range", 0, 0, 100, 4, 20, 1, 8, 2, 2, -12.5f, -12.5f, -62.5f},
      {"square root mid-range", 1, 0, 100, 4, 20, 1, 8, 12, 12, 25, 25, -25},
      {"square root below zero keeps the sign", 1, 0, 100, 4, 20, 1, 8, 2, 2, -1.5625f, -1.5625f, -51.5625f},
      {"tenths of a milliampere", 0, 0, 100, 4, 20, 1, 6, 120, 12, 50, 50, 0},
      {"device unit MPa", 0, 0, 0.1f, 4, 20, 1000, 8, 12, 12, 0.05f, 50, 0},
      {"falling signal 20..4", 0, 0, 100, 20, 4, 1, 8, 16, 16, 25, 25, -25},
      // Ranges that run downwards: the error is a share of the span's size, positive when the device
      // reads above the reference (50 kPa).
      {"reverse range 100..0", 0, 100, 0, 4, 20, 1, 8, 8, 8, 75, 75, 25},
      {"vacuum range 0..-100", 0, 0, -100, 4, 20, 1, 8, 8, 8, -25, -25, -75},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TDevChannel& d = Dev.devCh[1];
    d.fnCode = c.fnCode;
    d.Min = c.min;
    d.Max = c.max;
    d.el_Min = c.elMin;
    d.el_Max = c.elMax;
    d.toKpaMul = c.toKpa;
    Dev.sensorType = c.sensorType;
    Dev.kestoCurrent[1] = c.raw;
    measChDataToDev();
    EXPECT_FLOAT_EQ(Dev.ch[1].current, c.current);
    EXPECT_NEAR(Dev.ch[1].pFromI, c.pFromI, 1e-5);
    EXPECT_NEAR(Dev.ch[1].pFromIKPa, c.pFromIKPa, 1e-3);
    EXPECT_NEAR(Dev.ch[1].reducedError, c.reducedError, 1e-3);
  }
}

TEST_F(ChannelConversion, IncompleteRangesGiveNoResultAndNoSample) {
  struct Case {
    const char* what;
    float max, elMax, toKpa;
  };
  const Case cases[] = {
      {"zero span", 0, 20, 1}, {"zero current span", 100, 4, 1}, {"no unit factor", 100, 20, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    Dev.devCh[0].Max = c.max;
    Dev.devCh[0].el_Max = c.elMax;
    Dev.devCh[0].toKpaMul = c.toKpa;
    Dev.kestoCurrent[0] = 12;
    measChDataToDev();
    EXPECT_FLOAT_EQ(Dev.ch[0].current, 12);
    EXPECT_TRUE(std::isnan(Dev.ch[0].pFromI));
    EXPECT_TRUE(std::isnan(Dev.ch[0].pFromIKPa));
    EXPECT_TRUE(std::isnan(Dev.ch[0].reducedError));
    EXPECT_EQ(Dev.ch[0].pStat.count, 0);
    EXPECT_EQ(+Dev.ch[0].iStat.count, 0);
  }
}

TEST_F(ChannelConversion, FeedsStatisticsOnlyWithValidData) {
  for (int k = 0; k < 4; ++k) Dev.kestoCurrent[k] = 12;
  Dev.kestoDataValid = 0;
  measChDataToDev();
  EXPECT_EQ(Dev.ch[0].pStat.count, 0);
  Dev.kestoDataValid = 1;
  measChDataToDev();
  measChDataToDev();
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(Dev.ch[k].pStat.count, 2);
    EXPECT_FLOAT_EQ(Dev.ch[k].pStat.mean, 50);
    EXPECT_FLOAT_EQ(Dev.ch[k].iStat.mean, 12);
  }
  // A missing reference leaves the error open but the pressure stands.
  Dev.pRef = NAN;
  measChDataToDev();
  EXPECT_FLOAT_EQ(Dev.ch[0].pFromIKPa, 50);
  EXPECT_TRUE(std::isnan(Dev.ch[0].reducedError));
}

TEST_F(ChannelConversion, KestoDataTransferArmsOnTheFirstGoodReading) {
  std::memset(&measKesto, 0, sizeof measKesto);
  const float currents[4] = {4, 12, 20, 8};
  std::memcpy(measKesto.current, currents, sizeof currents);
  Dev.chSkip[0] = 1;
  Dev.chSkip[1] = Dev.chSkip[2] = Dev.chSkip[3] = 0;
  Dev.kestoDataValid = 0;

  Kesto_DataToDev();
  EXPECT_EQ(Dev.kestoChCount, 3u);
  EXPECT_FLOAT_EQ(Dev.kestoCurrent[2], 20);
  EXPECT_EQ(Dev.kestoDataValid, 1u);
  EXPECT_EQ(Dev.ch[2].pStat.count, 0) << "the first good reading only arms the conversion";
  Kesto_DataToDev();
  EXPECT_FLOAT_EQ(Dev.ch[2].pFromI, 100);
  EXPECT_EQ(Dev.ch[2].pStat.count, 1);

  EXPECT_EQ(IsBadKesto_Ac(&measKesto), 0);
  const float oneCurrent[4] = {4, 0, 0, 0};
  std::memcpy(measKesto.current, oneCurrent, sizeof oneCurrent);
  EXPECT_EQ(IsBadKesto_Ac(&measKesto), 0);
  std::memset(measKesto.current, 0, sizeof measKesto.current);
  EXPECT_EQ(IsBadKesto_Ac(&measKesto), 1);
  EXPECT_EQ(IsBadKesto_Ac(nullptr), 1);
}

}  // namespace
