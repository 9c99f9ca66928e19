// What starting, ending and hand input of a verification do to the shared record, as plain functions
// for the workstation's verification screen and the headless host. Starting the library's task is
// left to the caller (task 21 when RunStart::startTask, task 4 to stop).
#pragma once

#include <optional>
#include <string>

#include "Outcome.h"
#include "ProjectModel.h"
#include "ProjectToDev.h"
#include "TDev.h"

namespace quarn::data {

// Result records the protocol's tables take (the report exchange block carries at most 199 cells a
// table). A run is refused before it could record more: a record the verdict counts must be in the
// protocol.
inline constexpr int kProtocolRecordsMax = 199;

struct StartPermission {
  bool allowed = false;
  std::string hint;  // UTF-8, shown beside the start button; empty when allowed
};
// Start needs valid parameters, in relay mode at least one selected relay, and an enabled channel.
StartPermission startPermission(const TDev& dev, bool paramsValid, bool relayMode);

// Copies the switched-on points of a set, in list order, into points/pointCount (prc only; holdS 0).
// Returns the number copied.
int copyPointsToDev(const PointSet& set, TDev& dev);

// What a prepared run needs from its host.
struct RunStart {
  bool startTask = false;  // start task 21 (not in hand-input mode)
  int progressMax = 0;     // 3 per selected relay in relay mode, else the point count
};
// Prepares a run: points, results cleared, pointIdx 0, povMode and handInput set. Refused with
// "Нет точек поверки!" when the set has no switched-on point, and with the limit when it has more
// than the protocol takes (kProtocolRecordsMax); then nothing is changed except the point table.
Result<RunStart> prepareRun(TDev& dev, const PointSet& set, bool relayMode, bool handInput);

// Everything the start button does before the task, for a host without the screens: the project goes
// into the record (applyProjectToDev), the start permission is checked, the run is prepared from a
// point set (the project's selected one when none is given). A refusal says why it may not start, in
// the screens' words ("Диапазоны датчиков не совпадают!", "Канал не выбран", "Нет точек поверки!", ...).
// With `handInput` the run records its points by hand ("Добавить в протокол") and no task is to start.
Result<RunStart> prepareVerification(const Project& project, TDev& dev, const ApplyOptions& options,
                                     bool relayMode, std::optional<int> pointSet = std::nullopt,
                                     bool handInput = false);

// LinkLost: the library stopped the run because the link to the calibrator was lost; the results
// recorded before stay, the point being measured and the later ones were not recorded.
enum class RunEnd { Running, VerificationFinished, RelayCheckFinished, LinkLost };
struct RunEndInfo {
  RunEnd end = RunEnd::Running;
  std::string message;  // UTF-8 for the message dialog
};
// The end-of-run test made at every refresh while running (retCode 14 / 15 / 17).
RunEndInfo checkRunEnd(const TDev& dev);

// Seconds the channel still has to hold its point: the statistics' holdLeftS, or -1 while the
// reference is outside its corridor. Texts: -3 "?", -2 "не стаб.", -1 and 0 " ", n "n сек.".
int holdTimeLeft(const TDev& dev, int channel);
std::string holdTimeText(int secondsLeft);

// Hand input: the reference pressure typed in the display unit becomes pRefUnits and pRef (kPa).
void setHandReference(TDev& dev, double valueInDisplayUnit);
// "Добавить в протокол": records the current values as the next result. Refused, changing nothing,
// when the protocol's records are all used, kProtocolRecordsMax ("В протокол записано 199 точек:
// больше записей нет.").
Outcome addHandResult(TDev& dev);

// Number of valid result records.
int validResultCount(const TDev& dev);

}  // namespace quarn::data
