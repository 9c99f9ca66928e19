// A run record with every field set, for the history tests and the benchmark (no test framework).
#pragma once

#include <cmath>
#include <string>

#include "HistoryRecord.h"

namespace quarn::history::test {

// 2024-05-14 09:00:00 UTC; Moscow time (UTC+3) is 12:00.
inline constexpr int64_t kMorning = 1715677200000;
inline constexpr int64_t kHour = 3600000;
inline constexpr int kMoscow = 180;

// A verification run: `channels` devices with serials base+"-1", base+"-2", ... and `points` points
// each walking up 0..100 % (targets repeat when points > 5, as an up-and-down scan does).
inline RunRecord sampleRun(const std::string& serialBase, int64_t startedAt, int channels = 2,
                           int points = 5) {
  RunRecord r;
  r.startedAtMs = startedAt;
  r.finishedAtMs = startedAt + 25 * 60000;
  r.utcOffsetMin = kMoscow;
  r.workstation = "стенд-2";
  r.calibrator = {"Quarn-610", "Q1234", "2.07"};
  r.reference = {ReferenceKind::Calibrator, "Q1234", 1, 2500};
  r.conditions = {"21.5", "48", "748"};
  r.method = "МИ 4212-012-2013";
  r.pointSet = 1;
  r.pointCount = points;
  r.readiness = {5, 0.05f, false};
  r.protocol.number = "17/05";
  r.protocol.date = "14.05.2024";
  r.protocol.periodic = true;
  r.protocol.decimals = 3;
  r.protocol.displayUnit = 0;
  r.protocol.unitFactor = 1;
  r.protocol.referenceList = "Quarn № Q1234\nбарометр БАММ-1";
  r.protocol.fields = {{"amp_CD_ORG", "ООО «Лаборатория»"}, {"amp_CD_VERIF", "Иванов И. И."}};
  static const float kWalk[] = {0, 25, 50, 75, 100, 75, 50, 25, 0};
  for (int c = 1; c <= channels; ++c) {
    DeviceResult d;
    d.channel = c;
    d.name = "Датчик давления";
    d.model = "ДД-100";
    d.serial = serialBase + "-" + std::to_string(c);
    d.inventoryNo = "инв. " + std::to_string(c);
    d.owner = "цех № 3";
    d.rangeMin = 0;
    d.rangeMax = 0.6f;
    d.units = "МПа";
    d.minKpa = 0;
    d.maxKpa = 600;
    d.toKpaMul = 1000;
    d.signalMin = 4;
    d.signalMax = 20;
    d.signalUnits = "мА";
    d.signalType = 0;
    d.errOk = 0.5f;
    d.vrCoeff = 0.7f;
    d.method = "МП 123";
    d.verdict = Verdict::Suitable;
    for (int k = 0; k < points; ++k) {
      PointResult p;
      p.index = k;
      p.targetPrc = kWalk[k % 9];
      p.pRef = 6.0f * p.targetPrc + 0.01f * static_cast<float>(k);
      p.iExpected = 4 + 16 * p.pRef / 600;
      p.current = p.iExpected + 0.001f * static_cast<float>(c);
      p.pFromIKPa = (p.current - 4) / 16 * 600;
      p.pFromI = p.pFromIKPa / 1000;
      p.reducedError = (p.pFromIKPa - p.pRef) / 6;
      p.uncertainty = 0.0002f * static_cast<float>(k + 1);
      d.points.push_back(p);
    }
    r.devices.push_back(d);
  }
  return r;
}

}  // namespace quarn::history::test
