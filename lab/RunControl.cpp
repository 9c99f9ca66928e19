#include "RunControl.h"

#include <algorithm>
#include <cstring>

#include "TDevValues.h"
#include "quarn/cp1251.h"

namespace quarn::data {

StartPermission startPermission(const TDev& dev, bool paramsValid, bool relayMode) {
  StartPermission p;
  p.allowed = paramsValid;
  if (!paramsValid) p.hint = "* Проверьте параметры поверки!";
  if (relayMode && !dev.relayOn[0] && !dev.relayOn[1]) p.allowed = false;
  bool anyChannel = false;
  for (const TDevChannel& ch : dev.devCh) anyChannel = anyChannel || ch.enabled;
  if (!anyChannel) {
    p.allowed = false;
    p.hint = "* Канал не выбран";
  }
  return p;
}

int copyPointsToDev(const PointSet& set, TDev& dev) {
  int n = 0;
  for (const PointDef& p : set) {
    if (!p.exist || n >= POV_POINTS_MAX) continue;
    dev.points[n].prc = p.valuePrc;
    dev.points[n].holdS = 0;
    ++n;
  }
  dev.pointCount = n;
  return n;
}

Result<RunStart> prepareRun(TDev& dev, const PointSet& set, bool relayMode, bool handInput) {
  const int points = copyPointsToDev(set, dev);
  if (points == 0) return Outcome::failed("Нет точек поверки!");
  if (points > kProtocolRecordsMax)
    return Outcome::failed("В списке " + std::to_string(points) + " точек, а в протокол помещается не более " +
                           std::to_string(kProtocolRecordsMax) + ": уменьшите число точек.");
  std::memset(dev.results, 0, sizeof dev.results);
  dev.pointIdx = 0;
  dev.povMode = relayMode ? 1 : 0;
  dev.handInput = handInput ? 1 : 0;
  RunStart r;
  r.progressMax = relayMode ? 3 * ((dev.relayOn[0] ? 1 : 0) + (dev.relayOn[1] ? 1 : 0)) : dev.pointCount;
  r.startTask = !handInput;
  return r;
}

Result<RunStart> prepareVerification(const Project& project, TDev& dev, const ApplyOptions& options,
                                     bool relayMode, std::optional<int> pointSet, bool handInput) {
  const ParamsCheck check = applyProjectToDev(project, dev, options);
  const StartPermission permission = startPermission(dev, check.valid, relayMode);
  if (!permission.allowed) {
    bool anyChannel = false;
    for (const TDevChannel& ch : dev.devCh) anyChannel = anyChannel || ch.enabled;
    if (!anyChannel) return Outcome::failed("Канал не выбран");
    if (!check.valid)
      return Outcome::failed(check.message.empty() ? "Проверьте параметры поверки!" : check.message);
    return Outcome::failed("Не выбрано ни одно реле");
  }
  const int set = pointSet.value_or(project.selectedSet);
  if (set < 0 || set >= kPointSetCount) return Outcome::failed("Нет списка точек " + std::to_string(set + 1));
  return prepareRun(dev, project.pointSets[static_cast<std::size_t>(set)], relayMode, handInput);
}

RunEndInfo checkRunEnd(const TDev& dev) {
  RunEndInfo e;
  const char* done = dev.povHeader.isCalib ? "Калибровка завершена" : "Поверка завершена";
  if (dev.retCode == RETCODE_RELAY_CHECK_DONE) {
    e.end = RunEnd::RelayCheckFinished;
    e.message = dev.errCode && dev.errText ? text::cp1251ToUtf8(dev.errText) : done;
  } else if (dev.retCode == RETCODE_VERIFICATION_DONE) {
    e.end = RunEnd::VerificationFinished;
    e.message = done;
  } else if (dev.retCode == RETCODE_RUN_LINK_LOST) {
    e.end = RunEnd::LinkLost;
    e.message = std::string(dev.povMode == 1 ? "Проверка реле остановлена" : "Поверка остановлена") +
                ": связь с калибратором потеряна. Записанные точки сохранены; точка, которая "
                "измерялась, и следующие не записаны.";
  }
  return e;
}

int holdTimeLeft(const TDev& dev, int channel) {
  if (channel < 0 || channel >= 4) return -3;
  if (!dev.refStat.inCorridor) return -1;
  return dev.ch[channel].pStat.holdLeftS;
}

std::string holdTimeText(int s) {
  if (s == -3) return "?";
  if (s == -2) return "не стаб.";
  if (s <= 0) return " ";
  return std::to_string(s) + " сек.";
}

void setHandReference(TDev& dev, double value) {
  dev.pRefUnits = static_cast<float>(value);
  dev.pRef = static_cast<float>(value * dev.settings.unitFactorInv);
}

Outcome addHandResult(TDev& dev) {
  if (dev.pointIdx < 0 || dev.pointIdx >= kProtocolRecordsMax)
    return Outcome::failed("В протокол записано " + std::to_string(kProtocolRecordsMax) +
                           " точек: больше записей нет.");
  TPovResult& r = dev.results[dev.pointIdx];
  ++dev.pointIdx;
  ++dev.pointCount;
  r.valid = 1;
  r.pRef = dev.pRef;
  for (int c = 0; c < 4; ++c) {
    const TMeasCh& m = dev.ch[c];
    r.ch[c].current = m.current;
    r.ch[c].reducedError = m.reducedError;
    r.ch[c].pFromIKPa = m.pFromIKPa;
    r.ch[c].pFromI = m.pFromIKPa * dev.settings.unitFactor;
  }
  return {};
}

int validResultCount(const TDev& dev) {
  return static_cast<int>(std::count_if(std::begin(dev.results), std::end(dev.results),
                                        [](const TPovResult& r) { return r.valid != 0; }));
}

}  // namespace quarn::data
