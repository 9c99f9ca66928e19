#include "RunBuilder.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "ProjectToDev.h"
#include "Suitability.h"
#include "TDevValues.h"
#include "quarn/cp1251.h"

namespace quarn::history {

namespace {

template <std::size_t N>
std::string utf8(const char (&field)[N]) {
  return text::cp1251ToUtf8(std::string_view(field, strnlen(field, N)));
}

template <std::size_t N>
void put(char (&field)[N], const std::string& utf8Text) {
  data::copyTextField(field, N, utf8Text);
}

}  // namespace

RunRecord buildRunRecord(const TDev& dev, const HostContext& host) {
  RunRecord r;
  r.startedAtMs = host.startedAtMs;
  r.finishedAtMs = host.finishedAtMs;
  r.utcOffsetMin = host.utcOffsetMin;
  r.workstation = host.workstation;
  const bool relayCheck = dev.povMode == 1;
  r.kind = relayCheck              ? RunKind::RelayCheck
           : dev.povHeader.isCalib ? RunKind::Calibration
                                   : RunKind::Verification;
  r.tag = host.tag;

  r.calibrator.model = utf8(dev.calInfo.modelName);
  r.calibrator.serial = utf8(dev.calInfo.serial);
  char version[32];
  std::snprintf(version, sizeof version, "%d.%02d", dev.calInfo.version / 100,
                std::abs(dev.calInfo.version % 100));
  r.calibrator.version = version;

  if (dev.settings.refSource == REF_SOURCE_EXTERNAL) {
    r.reference.kind = ReferenceKind::Dorv;
    r.reference.serial = std::to_string(dev.dorv.serialNo);
    r.reference.module = 0;
  } else {
    r.reference.kind = ReferenceKind::Calibrator;
    r.reference.serial = r.calibrator.serial;
    // sensorState 1: the second reference module is in use.
    r.reference.module = dev.sensorState == 1 ? 2 : 1;
  }
  r.reference.upperKpa = dev.refUpper;

  const TPovHeader& h = dev.povHeader;
  r.conditions = {utf8(h.temp), utf8(h.hum), utf8(h.pres)};
  r.method = host.method;
  r.pointSet = host.pointSet;
  r.pointCount = dev.pointCount;
  r.handInput = dev.handInput != 0;
  r.readiness = {h.tRdy, h.dRdy, h.hardMode != 0};
  r.protocol.number = utf8(h.protocolNo);
  r.protocol.date = utf8(h.date);
  r.protocol.periodic = h.isPeriodic != 0;
  r.protocol.decimals = dev.cDigits;
  r.protocol.displayUnit = dev.settings.units;
  r.protocol.unitFactor = dev.settings.unitFactor;
  r.protocol.referenceList = utf8(h.etalonList);
  r.protocol.fields = host.protocolFields;

  for (int c = 0; c < 4; ++c) {
    const TDevChannel& ch = dev.devCh[c];
    if (!ch.enabled) continue;
    DeviceResult d;
    d.channel = c + 1;
    d.name = utf8(ch.name);
    d.model = utf8(ch.model);
    d.serial = utf8(ch.sn);
    d.inventoryNo = utf8(ch.invNo);
    d.owner = utf8(ch.owner);
    d.rangeMin = ch.Min;
    d.rangeMax = ch.Max;
    d.units = utf8(ch.Unit);
    d.minKpa = ch.MinKpa;
    d.maxKpa = ch.MaxKpa;
    d.toKpaMul = ch.toKpaMul;
    d.signalMin = ch.el_Min;
    d.signalMax = ch.el_Max;
    d.signalUnits = utf8(ch.el_Unit);
    d.signalType = ch.elTypeSignal;
    d.transferFunction = ch.fnCode;
    d.errOk = ch.errOk;
    d.vrCoeff = h.vrCoeff;
    d.method = host.deviceMethods[static_cast<std::size_t>(c)];
    if (!relayCheck) {
      const std::optional<bool> suitable = data::channelSuitable(dev, c);
      d.verdict = !suitable ? Verdict::None : *suitable ? Verdict::Suitable : Verdict::Unsuitable;
      for (int k = 0; k < POV_POINTS_MAX; ++k) {
        const TPovResult& res = dev.results[k];
        if (!res.valid) continue;
        PointResult p;
        p.index = k;
        // A point entered by hand has no target of the point table.
        p.targetPrc = !dev.handInput && k < dev.pointCount ? dev.points[k].prc : NAN;
        p.pRef = res.pRef;
        p.current = res.ch[c].current;
        p.iExpected = res.ch[c].iExpected;
        p.pFromI = res.ch[c].pFromI;
        p.pFromIKPa = res.ch[c].pFromIKPa;
        p.reducedError = res.ch[c].reducedError;
        p.uncertainty = res.ch[c].uncertainty;
        d.points.push_back(p);
      }
    }
    r.devices.push_back(std::move(d));
  }

  if (relayCheck) {
    for (int k = 0; k < 8; ++k) {
      RelayResult x;
      x.channel = k / 2 + 1;
      x.relay = k % 2 + 1;
      x.selected = dev.relayOn[k % 2] != 0;
      x.setpointKpa = dev.relayP[k % 2];
      x.hysteresisKpa = dev.relayHyst[k % 2];
      x.state = dev.relays[k].state;
      x.pOnKpa = dev.relays[k].pOn;
      x.pOffKpa = dev.relays[k].pOff;
      r.relays.push_back(x);
    }
  }
  return r;
}

RunRecord buildRunRecord(const data::RunSnapshot& run, HostContext host) {
  host.pointSet = run.pointSet();
  host.protocolFields = run.protocolFields();
  for (std::size_t c = 0; c < host.deviceMethods.size(); ++c) host.deviceMethods[c] = run.channelMethods()[c];
  host.method = run.methodStatement();
  return buildRunRecord(run.record(), host);
}

data::RunSnapshot snapshotOfStoredRun(const RunRecord& run) {
  auto dev = std::make_unique<TDev>();
  std::memset(dev.get(), 0, sizeof(TDev));
  runRecordToDev(run, *dev);
  std::array<std::string, data::kChannelCount> methods;
  for (const DeviceResult& d : run.devices)
    if (d.channel >= 1 && d.channel <= data::kChannelCount)
      methods[static_cast<std::size_t>(d.channel - 1)] = d.method;
  return data::RunSnapshot(*dev, run.protocol.fields, methods, run.pointSet);
}

data::CalibrationRuns calibrationRunsOfStored(const StoredCalibration& calibration) {
  data::CalibrationRuns runs;
  const RunRecord& last = calibration.last.record;
  if (last.tag == RunTag::AsLeft) {
    runs.asLeft = snapshotOfStoredRun(last);
    if (calibration.asFound) runs.asFound = snapshotOfStoredRun(calibration.asFound->record);
  } else {
    runs.asFound = snapshotOfStoredRun(last);
  }
  for (const Adjustment& a : calibration.adjustments) {
    if (a.kind != AdjustmentKind::SensorTrim && a.kind != AdjustmentKind::CurrentTrim) continue;
    data::CalibrationAdjustment x;
    x.channel = a.channel;
    x.serial = a.serial;
    x.deviceName = a.deviceName;
    x.kind = a.kind == AdjustmentKind::SensorTrim ? data::TrimKind::Sensor : data::TrimKind::Current;
    x.note = a.note;
    runs.adjustments.push_back(std::move(x));
  }
  if (const auto reasons = data::calibrationReasonsOf(last.protocol.fields)) runs.reasons = *reasons;
  return runs;
}

void runRecordToDev(const RunRecord& r, TDev& dev) {
  TPovHeader& h = dev.povHeader;
  put(h.temp, r.conditions.temperature);
  put(h.hum, r.conditions.humidity);
  put(h.pres, r.conditions.pressure);
  put(h.protocolNo, r.protocol.number);
  put(h.date, r.protocol.date);
  put(h.etalonList, r.protocol.referenceList);
  h.isCalib = r.kind == RunKind::Calibration ? 1 : 0;
  h.isPeriodic = r.protocol.periodic ? 1 : 0;
  h.tRdy = r.readiness.holdS;
  h.dRdy = r.readiness.bandPrc;
  h.hardMode = r.readiness.hardMode ? 1 : 0;
  if (!r.devices.empty()) h.vrCoeff = r.devices.front().vrCoeff;
  dev.cDigits = r.protocol.decimals;
  dev.settings.units = r.protocol.displayUnit;
  dev.settings.unitFactor = r.protocol.unitFactor;
  if (r.protocol.unitFactor != 0 && !std::isnan(r.protocol.unitFactor))
    dev.settings.unitFactorInv = 1.0f / r.protocol.unitFactor;
  dev.povMode = r.kind == RunKind::RelayCheck ? 1 : 0;
  dev.handInput = r.handInput ? 1 : 0;
  dev.refUpper = r.reference.upperKpa;
  put(dev.calInfo.modelName, r.calibrator.model);
  put(dev.calInfo.serial, r.calibrator.serial);

  std::memset(dev.results, 0, sizeof dev.results);
  int lastIndex = -1;
  for (int c = 0; c < 4; ++c) dev.devCh[c].enabled = 0;
  for (const DeviceResult& d : r.devices) {
    if (d.channel < 1 || d.channel > 4) continue;
    TDevChannel& ch = dev.devCh[d.channel - 1];
    ch.enabled = 1;
    put(ch.name, d.name);
    put(ch.model, d.model);
    put(ch.sn, d.serial);
    put(ch.invNo, d.inventoryNo);
    put(ch.owner, d.owner);
    ch.Min = d.rangeMin;
    ch.Max = d.rangeMax;
    put(ch.Unit, d.units);
    ch.MinKpa = d.minKpa;
    ch.MaxKpa = d.maxKpa;
    ch.toKpaMul = d.toKpaMul;
    ch.el_Min = d.signalMin;
    ch.el_Max = d.signalMax;
    put(ch.el_Unit, d.signalUnits);
    ch.elTypeSignal = d.signalType;
    ch.fnCode = d.transferFunction;
    ch.errOk = d.errOk;
    for (const PointResult& p : d.points) {
      if (p.index < 0 || p.index >= POV_POINTS_MAX) continue;
      TPovResult& res = dev.results[p.index];
      res.valid = 1;
      res.pRef = p.pRef;
      TPovChResult& v = res.ch[d.channel - 1];
      v.current = p.current;
      v.iExpected = p.iExpected;
      v.pFromI = p.pFromI;
      v.pFromIKPa = p.pFromIKPa;
      v.reducedError = p.reducedError;
      v.uncertainty = p.uncertainty;
      if (!std::isnan(p.targetPrc)) dev.points[p.index].prc = p.targetPrc;
      if (p.index > lastIndex) lastIndex = p.index;
    }
  }
  // The records after the last one recorded are unused, as after a run.
  dev.pointIdx = lastIndex + 1;
  dev.pointCount = r.pointCount > dev.pointIdx ? r.pointCount : dev.pointIdx;

  for (const RelayResult& x : r.relays) {
    if (x.channel < 1 || x.channel > 4 || x.relay < 1 || x.relay > 2) continue;
    const int k = 2 * (x.channel - 1) + (x.relay - 1);
    dev.relayOn[x.relay - 1] = x.selected ? 1 : 0;
    dev.relayP[x.relay - 1] = x.setpointKpa;
    dev.relayHyst[x.relay - 1] = x.hysteresisKpa;
    dev.relays[k].state = x.state;
    dev.relays[k].pOn = x.pOnKpa;
    dev.relays[k].pOff = x.pOffKpa;
  }
}

std::optional<AdjustmentKind> adjustmentOfTask(uint32_t task) {
  switch (task) {
    case TASK_HART_TUNE_I:
      return AdjustmentKind::CurrentTrim;
    case TASK_HART_TUNE_TRIM:
      return AdjustmentKind::SensorTrim;
    case TASK_HART_SET_0:
      return AdjustmentKind::ZeroTrim;
    case TASK_HART_REPAIR_MAN:
      return AdjustmentKind::TrimRestore;
    case TASK_HART_WRITE:
      return AdjustmentKind::Rerange;
    default:
      return std::nullopt;
  }
}

int64_t nowUtcMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int utcOffsetMinutes(int64_t msUtc) {
  const time_t t = static_cast<time_t>(msUtc / 1000);
  struct tm local {};
  if (!localtime_r(&t, &local)) return 0;
  return static_cast<int>(local.tm_gmtoff / 60);
}

std::string defaultWorkstationName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string defaultHistoryPath() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/quarn/history.db";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.local/share/quarn/history.db";
  return {};
}

}  // namespace quarn::history
