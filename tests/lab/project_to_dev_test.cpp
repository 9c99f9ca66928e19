#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "ChannelRules.h"
#include "ProjectFile.h"
#include "ProjectToDev.h"
#include "quarn/cp1251.h"

using namespace quarn::data;

namespace {

std::string field(const char* f) { return quarn::text::cp1251ToUtf8(f); }

Project threeChannelProject() {
  Project p;
  for (int c : {0, 1, 3}) {
    ChannelParams& ch = p.channels[static_cast<std::size_t>(c)];
    ch.enabled = true;
    ch.Max = 1000;
    ch.errOk = 0.25f;
  }
  p.channels[1].unit = "МПа";
  p.channels[1].Max = 1;
  p.channels[3].unit = "мм вод. ст.";  // the HART form of the unit
  p.channels[3].Max = 100000 / 0.980665f;
  p.channels[2].name = "выключен";
  p.channels[2].Max = 5;
  return p;
}

TEST(ApplyProject, FillsTheRecordAsTheParametersScreenDoes) {
  Project p = threeChannelProject();
  p.header.protocolNo = "Протокол № 123456789012345";  // longer than the field
  p.header.temp = "20.5 °С и ещё";
  p.header.date = "09.12.2026";
  p.header.kind = ProtocolKind::Calibration;
  p.header.resultDecimals = 2;
  p.header.auxEquipment = {"Термометр\r", "Барометр"};
  p.readiness = {"2.9", "0.1", "0.8", true};
  p.relay.enabled = {false, true};
  p.relay.setpointKpa = {"1,5", "250"};
  p.relay.hysteresisKpa = {"abc", "12.5"};
  auto dev = std::make_unique<TDev>();
  dev->model = 1;
  dev->dorv.present = 1;
  dev->dorv.serialNo = 52311;
  dev->settings.readyBand1 = 0.05f;
  dev->settings.averaging = 5;
  dev->pTarget = 250;

  const ParamsCheck check = applyProjectToDev(p, *dev, {"Quarn №Q1-004711"});
  EXPECT_TRUE(check.valid) << check.message;

  const TPovHeader& h = dev->povHeader;
  EXPECT_EQ(field(h.protocolNo), "Протокол № 12345678");  // 19 characters
  EXPECT_EQ(field(h.temp), "20.5 °С");
  EXPECT_EQ(field(h.date), "09.12.2026");
  EXPECT_EQ(h.isCalib, 1);
  EXPECT_EQ(h.isPeriodic, 0);
  EXPECT_EQ(dev->cDigits, 2);
  EXPECT_EQ(field(h.etalonList), "Quarn №Q1-004711, Dorv №52311, Термометр\nБарометр");
  EXPECT_EQ(h.tRdy, 2);
  EXPECT_FLOAT_EQ(h.dRdy, 0.1f);
  EXPECT_FLOAT_EQ(h.vrCoeff, 0.8f);
  EXPECT_EQ(h.hardMode, 1);
  EXPECT_EQ(dev->relayOn[0], 0);
  EXPECT_EQ(dev->relayOn[1], 1);
  EXPECT_FLOAT_EQ(dev->relayP[0], 1.0f);  // "%f" stops at the comma
  EXPECT_FLOAT_EQ(dev->relayHyst[0], 0.0f);
  EXPECT_FLOAT_EQ(dev->relayHyst[1], 12.5f);

  EXPECT_FLOAT_EQ(dev->devCh[1].toKpaMul, 1000.0f);
  EXPECT_FLOAT_EQ(dev->devCh[1].MaxKpa, 1000.0f);
  EXPECT_FLOAT_EQ(dev->devCh[3].toKpaMul, 0.00980665f);
  EXPECT_NEAR(dev->devCh[3].MaxKpa, 1000.0f, 0.01f);
  EXPECT_EQ(field(dev->devCh[3].Unit), "мм вод. ст.");
  EXPECT_EQ(field(dev->devCh[0].el_Unit), "мА");
  // A channel that is switched off still carries its values.
  EXPECT_EQ(dev->devCh[2].enabled, 0);
  EXPECT_EQ(field(dev->devCh[2].name), "выключен");
  EXPECT_FLOAT_EQ(dev->devCh[2].MaxKpa, 5.0f);

  // The range and the readiness derived from it.
  EXPECT_EQ(dev->povLo, 0.0f);
  EXPECT_FLOAT_EQ(dev->povSpan, 1000.0f);
  EXPECT_FLOAT_EQ(dev->refStat.stableBand, 1.0f);
  EXPECT_FLOAT_EQ(dev->refStat.readyCorridor, 0.5f);
  EXPECT_FLOAT_EQ(dev->ch[0].pStat.readyCorridor, 2.0f);  // 1000 x 0.25 x 0.8 / 100
  EXPECT_EQ(dev->ch[0].pStat.holdMs, 2000u);
  EXPECT_EQ(dev->ch[2].pStat.holdMs, 0u);
}

TEST(ApplyProject, SignalTypesSetTheLimitsAndVoltageKeepsItsOwn) {
  struct Case {
    int type;
    float fileMin, fileMax;
    float elMin, elMax;
    const char* unit;
  } cases[] = {
      {0, 1, 2, 4, 20, "мА"}, {1, 1, 2, 20, 4, "мА"}, {2, 1, 2, 0, 5, "мА"},
      {3, 1, 2, 5, 0, "мА"},  {4, 0, 10, 0, 10, "В"}, {9, 1, 2, 4, 20, "мА"},  // unknown type: 4..20
  };
  for (const Case& c : cases) {
    Project p;
    p.channels[0].enabled = true;
    p.channels[0].elTypeSignal = c.type;
    p.channels[0].elMin = c.fileMin;
    p.channels[0].elMax = c.fileMax;
    auto dev = std::make_unique<TDev>();
    applyProjectToDev(p, *dev);
    EXPECT_EQ(dev->devCh[0].el_Min, c.elMin) << c.type;
    EXPECT_EQ(dev->devCh[0].el_Max, c.elMax) << c.type;
    EXPECT_EQ(field(dev->devCh[0].el_Unit), c.unit) << c.type;
  }
}

TEST(ApplyProject, InvalidParametersStillFillTheRecordAndSayWhy) {
  Project p;
  p.channels[0].enabled = true;
  p.channels[0].Max = 0;  // Pв = Pн
  auto dev = std::make_unique<TDev>();
  const ParamsCheck check = applyProjectToDev(p, *dev);
  EXPECT_FALSE(check.valid);
  EXPECT_EQ(check.message, "Диапазон датчика не задан (Pв = Pн)!");
  EXPECT_EQ(dev->devCh[0].enabled, 1);
}

TEST(ChannelRecord, RoundTripThroughTheRecordKeepsEveryField) {
  ChannelParams ch;
  ch.enabled = true;
  ch.name = "Сапфир-22";
  ch.model = "2150";
  ch.sn = "987";
  ch.invNo = "7";
  ch.owner = "Завод";
  ch.Min = -50;
  ch.Max = 50;
  ch.unit = "кгс/см2";
  ch.toKpaMul = 98.06652f;
  ch.tDamp = 0.4f;
  ch.fnCode = 1;
  ch.errOk = 0.15f;
  ch.elTypeSignal = 2;
  ch.elMin = 0;
  ch.elMax = 5;
  TDevChannel rec{};
  channelToDev(ch, rec);
  EXPECT_FLOAT_EQ(rec.MinKpa, -50 * 98.06652f);
  const ChannelParams back = channelFromDev(rec);
  IniDocument a, b;
  Project pa, pb;
  pa.channels[0] = ch;
  pb.channels[0] = back;
  projectToIni(pa, a);
  projectToIni(pb, b);
  EXPECT_EQ(a.serialize(), b.serialize());
}

TEST(ChannelRules, SensorTypeChangesOnlyWhenTheModuleCanTakeIt) {
  auto dev = std::make_unique<TDev>();
  dev->linked = 1;
  dev->kestoOk = 1;
  dev->kestoDataValid = 1;
  dev->sensorType = 8;
  EXPECT_EQ(sensorTypeChange(*dev, kSignal4to20), std::nullopt);  // already 8
  EXPECT_EQ(sensorTypeChange(*dev, kSignal0to5), 6u);
  EXPECT_EQ(sensorTypeChange(*dev, kSignalVoltage), 6u);
  dev->sensorType = 6;
  EXPECT_EQ(sensorTypeChange(*dev, kSignal20to4), 8u);
  dev->kestoDataValid = 0;
  EXPECT_EQ(sensorTypeChange(*dev, kSignal20to4), std::nullopt);
}

TEST(ChannelRules, AFoundHartTransmitterFillsItsChannel) {
  struct Case {
    uint8_t units;
    const char* unit;
    float maxKpa;
  } cases[] = {{237, "МПа", 1600}, {5, "мм рт. ст.", 1.6f * 0.13332267f}, {6, "кПа", 1.6f}};
  for (const Case& c : cases) {
    auto hart = std::make_unique<THartDev>();
    std::strcpy(hart->deviceTypeName, CP1251("Метран-150"));
    hart->deviceId = 123456;
    hart->lowerRange = 0;
    hart->upperRange = 1.6f;
    hart->rangeUnits = c.units;
    TDevChannel ch{};
    std::strcpy(ch.Unit, CP1251("кПа"));
    ch.toKpaMul = 1;
    takeOverHartDevice(ch, *hart);
    EXPECT_EQ(ch.enabled, 1);
    EXPECT_EQ(field(ch.name), "Метран-150");
    EXPECT_EQ(field(ch.sn), "123456");
    EXPECT_EQ(field(ch.Unit), c.unit);  // an unknown code leaves the unit as it was
    EXPECT_FLOAT_EQ(ch.MaxKpa, c.maxKpa) << c.unit;
  }
}

// The device id is no factory serial: a serial the operator entered stays after a search, and only an
// empty one (or one of blanks) is filled with the id.
TEST(ChannelRules, AHartDeviceFillsOnlyAnEmptySerial) {
  const struct {
    const char* entered;
    const char* kept;
  } cases[] = {
      {"", "123456"}, {"   ", "123456"}, {"ZN-0042", "ZN-0042"}, {" 7 ", "7"}, {"Зав. 15/3", "Зав. 15/3"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entered);
    auto hart = std::make_unique<THartDev>();
    hart->deviceId = 123456;
    TDevChannel ch{};
    takeOverHartDevice(ch, *hart, c.entered);
    EXPECT_EQ(field(ch.sn), c.kept);
    // The library's own copy after a write or an information read: the same serial comes back.
    std::strcpy(ch.sn, "123456");
    keepEnteredSerial(ch, c.entered);
    EXPECT_EQ(field(ch.sn), c.kept);
  }
}

TEST(ChannelRules, OneSignalTypeForAllChannels) {
  auto dev = std::make_unique<TDev>();
  setSignalTypeForAll(*dev, kSignalVoltage, 0, 10);
  for (const TDevChannel& ch : dev->devCh) {
    EXPECT_EQ(ch.elTypeSignal, kSignalVoltage);
    EXPECT_EQ(ch.el_Min, 0.0f);
    EXPECT_EQ(ch.el_Max, 10.0f);
    EXPECT_EQ(field(ch.el_Unit), "В");
  }
  setSignalTypeForAll(*dev, kSignal20to4, 0, 10);
  EXPECT_EQ(dev->devCh[3].el_Min, 20.0f);
  EXPECT_EQ(dev->devCh[3].el_Max, 4.0f);
  EXPECT_EQ(field(dev->devCh[3].el_Unit), "мА");
}

TEST(ChannelRules, UnitsOfHartCodes) {
  EXPECT_EQ(unitOfHartCode(237), "МПа");
  EXPECT_EQ(unitOfHartCode(5), "мм рт. ст.");
  EXPECT_EQ(unitOfHartCode(6), std::nullopt);  // unknown codes leave the unit as it is
  EXPECT_EQ(unitIndex(*unitOfHartCode(239)), 5);
  EXPECT_EQ(unitIndex("psi"), 7);
  EXPECT_EQ(unitIndex("Па"), std::nullopt);
}

}  // namespace
