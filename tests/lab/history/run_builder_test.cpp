// The run record made from the shared record at the end of a run, and the record made back from a
// stored run (what the protocol is rebuilt from).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "ProjectToDev.h"
#include "RunBuilder.h"
#include "history_fixture.h"

namespace quarn::history::test {
namespace {

using data::copyTextField;

// A copy of a field of the packed record (gtest binds its arguments to references).
template <typename T>
T val(T v) {
  return v;
}

// The record after a three-point calibration of channels 1 and 3, the middle record deleted by the
// operator; channel 3 exceeds errOk x vrCoeff (0.5 x 0.7) at its last point.
std::unique_ptr<TDev> finishedRun() {
  auto dev = std::make_unique<TDev>();
  std::memset(dev.get(), 0, sizeof(TDev));
  TPovHeader& h = dev->povHeader;
  copyTextField(h.temp, sizeof h.temp, "21.5");
  copyTextField(h.hum, sizeof h.hum, "48");
  copyTextField(h.pres, sizeof h.pres, "748");
  copyTextField(h.protocolNo, sizeof h.protocolNo, "17/05");
  copyTextField(h.date, sizeof h.date, "14.05.2024");
  copyTextField(h.etalonList, sizeof h.etalonList, "Quarn № Q77\nбарометр");
  h.isCalib = 1;
  h.isPeriodic = 1;
  h.tRdy = 5;
  h.dRdy = 0.05f;
  h.vrCoeff = 0.7f;
  dev->cDigits = 3;
  dev->settings.units = 1;
  dev->settings.unitFactor = 0.001f;
  dev->settings.unitFactorInv = 1000;
  copyTextField(dev->calInfo.modelName, sizeof dev->calInfo.modelName, "Quarn-610");
  copyTextField(dev->calInfo.serial, sizeof dev->calInfo.serial, "Q77");
  dev->calInfo.version = 207;
  dev->sensorState = 1;
  dev->refUpper = 2500;
  for (int c : {0, 2}) {
    TDevChannel& ch = dev->devCh[c];
    ch.enabled = 1;
    copyTextField(ch.name, sizeof ch.name, "Датчик давления");
    copyTextField(ch.model, sizeof ch.model, "ДД-100");
    copyTextField(ch.sn, sizeof ch.sn, c == 0 ? "1001" : "1003");
    copyTextField(ch.invNo, sizeof ch.invNo, "инв. 5");
    copyTextField(ch.owner, sizeof ch.owner, "цех № 3");
    ch.errOk = 0.5f;
    ch.fnCode = 0;
    ch.Min = 0;
    ch.Max = 0.6f;
    ch.MinKpa = 0;
    ch.MaxKpa = 600;
    copyTextField(ch.Unit, sizeof ch.Unit, "МПа");
    ch.el_Min = c == 0 ? 4 : 20;
    ch.el_Max = c == 0 ? 20 : 4;
    copyTextField(ch.el_Unit, sizeof ch.el_Unit, "мА");
    ch.elTypeSignal = c == 0 ? 0 : 1;
    ch.toKpaMul = 1000;
  }
  dev->pointCount = 3;
  dev->pointIdx = 3;
  const float prc[] = {0, 50, 100};
  for (int k = 0; k < 3; ++k) dev->points[k].prc = prc[k];
  for (int k : {0, 2}) {
    TPovResult& r = dev->results[k];
    r.valid = 1;
    r.pRef = 6 * prc[k] + 0.02f;
    for (int c : {0, 2}) {
      r.ch[c].current = 4 + 0.16f * prc[k] + 0.001f;
      r.ch[c].iExpected = 4 + 0.16f * prc[k];
      r.ch[c].pFromIKPa = r.pRef + 0.1f;
      r.ch[c].pFromI = r.ch[c].pFromIKPa / 1000;
      r.ch[c].reducedError = c == 2 && k == 2 ? 0.36f : 0.02f;
      r.ch[c].uncertainty = 0.0003f;
    }
  }
  return dev;
}

HostContext host() {
  HostContext h;
  h.workstation = "стенд-2";
  h.startedAtMs = kMorning;
  h.finishedAtMs = kMorning + kHour;
  h.utcOffsetMin = kMoscow;
  h.method = "МИ 4212";
  h.pointSet = 2;
  h.protocolFields = {{"amp_CD_VERIF", "Иванов"}};
  h.deviceMethods = {"МП 1", "", "МП 3", ""};
  return h;
}

TEST(RunBuilder, TakesTheRunFromTheRecord) {
  const auto dev = finishedRun();
  const RunRecord r = buildRunRecord(*dev, host());
  EXPECT_EQ(r.kind, RunKind::Calibration);
  EXPECT_EQ(r.tag, RunTag::AsFound);
  EXPECT_EQ(r.workstation, "стенд-2");
  EXPECT_EQ(r.startedAtMs, kMorning);
  EXPECT_EQ(r.calibrator.model, "Quarn-610");
  EXPECT_EQ(r.calibrator.serial, "Q77");
  EXPECT_EQ(r.calibrator.version, "2.07");
  EXPECT_EQ(r.reference.kind, ReferenceKind::Calibrator);
  EXPECT_EQ(r.reference.serial, "Q77");
  EXPECT_EQ(r.reference.module, 2);
  EXPECT_EQ(r.reference.upperKpa, 2500);
  EXPECT_EQ(r.conditions.temperature, "21.5");
  EXPECT_EQ(r.protocol.referenceList, "Quarn № Q77\nбарометр");
  EXPECT_EQ(r.protocol.displayUnit, 1);
  EXPECT_EQ(r.method, "МИ 4212");
  EXPECT_EQ(r.pointSet, 2);
  EXPECT_EQ(r.pointCount, 3);
  ASSERT_EQ(r.devices.size(), 2u);
  const DeviceResult &a = r.devices[0], &b = r.devices[1];
  EXPECT_EQ(a.channel, 1);
  EXPECT_EQ(b.channel, 3);
  EXPECT_EQ(a.name, "Датчик давления");
  EXPECT_EQ(b.serial, "1003");
  EXPECT_EQ(b.units, "МПа");
  EXPECT_EQ(b.signalMin, 20);
  EXPECT_EQ(b.vrCoeff, 0.7f);
  EXPECT_EQ(a.method, "МП 1");
  EXPECT_EQ(b.method, "МП 3");
  EXPECT_EQ(a.verdict, Verdict::Suitable);
  EXPECT_EQ(b.verdict, Verdict::Unsuitable);
  // The deleted record is left out; the others keep their place and their point's target.
  ASSERT_EQ(b.points.size(), 2u);
  EXPECT_EQ(b.points[1].index, 2);
  EXPECT_EQ(b.points[1].targetPrc, 100);
  EXPECT_EQ(b.points[1].reducedError, 0.36f);
  EXPECT_EQ(b.points[1].pRef, 600.02f);
  EXPECT_TRUE(r.relays.empty());
}

TEST(RunBuilder, RecordVariants) {
  {
    SCOPED_TRACE("hand input: no targets");
    auto dev = finishedRun();
    dev->handInput = 1;
    const RunRecord r = buildRunRecord(*dev, host());
    EXPECT_TRUE(r.handInput);
    EXPECT_TRUE(std::isnan(r.devices[0].points[0].targetPrc));
  }
  {
    SCOPED_TRACE("the Dorv as reference");
    auto dev = finishedRun();
    dev->settings.refSource = 3;
    dev->dorv.serialNo = 4711;
    const RunRecord r = buildRunRecord(*dev, host());
    EXPECT_EQ(r.reference.kind, ReferenceKind::Dorv);
    EXPECT_EQ(r.reference.serial, "4711");
    EXPECT_EQ(r.reference.module, 0);
  }
  {
    SCOPED_TRACE("a relay check");
    auto dev = finishedRun();
    dev->povMode = 1;
    std::memset(dev->results, 0, sizeof dev->results);
    dev->relayOn[0] = 1;
    dev->relayP[0] = 300;
    dev->relayHyst[0] = 10;
    dev->relays[4] = TRelayResult{1, 296.5f, 303.25f};
    const RunRecord r = buildRunRecord(*dev, host());
    EXPECT_EQ(r.kind, RunKind::RelayCheck);
    ASSERT_EQ(r.relays.size(), 8u);
    const RelayResult& x = r.relays[4];  // channel 3, relay 1
    EXPECT_EQ(x.channel, 3);
    EXPECT_EQ(x.relay, 1);
    EXPECT_TRUE(x.selected);
    EXPECT_EQ(x.setpointKpa, 300);
    EXPECT_EQ(x.pOnKpa, 296.5f);
    EXPECT_EQ(x.pOffKpa, 303.25f);
    EXPECT_FALSE(r.relays[5].selected);
    ASSERT_EQ(r.devices.size(), 2u);
    EXPECT_TRUE(r.devices[0].points.empty());
    EXPECT_EQ(r.devices[0].verdict, Verdict::None);
  }
  {
    SCOPED_TRACE("a verification with pointIdx 0: not suitable, as the protocol judges it");
    auto dev = finishedRun();
    dev->povHeader.isCalib = 0;
    dev->pointIdx = 0;
    const RunRecord r = buildRunRecord(*dev, host());
    EXPECT_EQ(r.kind, RunKind::Verification);
    EXPECT_EQ(r.devices[0].verdict, Verdict::Unsuitable);
  }
}

class RunBuilderStoreTest : public HistoryTest {};

TEST_F(RunBuilderStoreTest, AStoredRunGivesBackTheRecordItsProtocolIsMadeFrom) {
  const auto dev = finishedRun();
  auto store = openStore("h.db");
  ASSERT_TRUE(store);
  const int64_t id = add(*store, buildRunRecord(*dev, host()));
  const Result<StoredRun> shown = store->show(id);
  ASSERT_TRUE(shown.ok());

  auto back = std::make_unique<TDev>();
  std::memset(back.get(), 0, sizeof(TDev));
  runRecordToDev(shown->record, *back);
  // Byte for byte, the parts the protocol reads.
  EXPECT_EQ(std::memcmp(&back->povHeader, &dev->povHeader, sizeof dev->povHeader), 0);
  EXPECT_EQ(std::memcmp(back->devCh, dev->devCh, sizeof dev->devCh), 0);
  EXPECT_EQ(std::memcmp(back->results, dev->results, sizeof dev->results), 0);
  EXPECT_EQ(val(back->points[2].prc), 100);
  EXPECT_EQ(val(back->pointIdx), 3);
  EXPECT_EQ(val(back->pointCount), 3);
  EXPECT_EQ(val(back->cDigits), 3);
  EXPECT_EQ(val(back->settings.units), 1);
  EXPECT_EQ(val(back->settings.unitFactor), 0.001f);
  EXPECT_EQ(val(back->povMode), 0u);
}

}  // namespace
}  // namespace quarn::history::test
