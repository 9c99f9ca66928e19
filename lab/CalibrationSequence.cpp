#include "CalibrationSequence.h"

#include <algorithm>
#include <utility>

#include "Suitability.h"
#include "TDevValues.h"
#include "quarn/cp1251.h"

namespace quarn::data {

namespace {

// The trim rule of the sensor panel: a trim point may lie at most 12 % of the span from the end of
// the range it trims.
constexpr float kTrimPointMargin = 0.12f;

// The library's error code for a task that ended because the calibrator's port went away
// ("связь с калибратором потеряна").
constexpr uint32_t kErrLinkLost = 16;

std::string textOf(const char* cp1251) {
  std::string s = cp1251 ? quarn::text::cp1251ToUtf8(cp1251) : std::string();
  std::replace(s.begin(), s.end(), '\t', ' ');
  return s;
}

bool any(const std::array<bool, 4>& a) { return std::find(a.begin(), a.end(), true) != a.end(); }

}  // namespace

const char* calibrationStageText(CalibrationStage stage) {
  switch (stage) {
    case CalibrationStage::Idle:
      return "Ожидание";
    case CalibrationStage::Search:
      return "Поиск HART-устройств";
    case CalibrationStage::AsFound:
      return "Поверка до подстройки";
    case CalibrationStage::SensorTrim:
      return "Подстройка сенсора";
    case CalibrationStage::CurrentTrim:
      return "Подстройка тока";
    case CalibrationStage::ExitFixed:
      return "Выход из режима фиксированного тока";
    case CalibrationStage::AsLeft:
      return "Поверка после подстройки";
    case CalibrationStage::Finished:
      return "Калибровка завершена";
    case CalibrationStage::Stopped:
      return "Калибровка остановлена";
  }
  return "";
}

CalibrationSequence::CalibrationSequence(CalibrationHost& host, CalibrationOptions options)
    : host_(host), options_(options) {}

CalibrationSequence::~CalibrationSequence() = default;

void CalibrationSequence::start() {
  ch_ = {};
  interruptedTrim_.clear();
  asFound_.reset();
  asLeft_.reset();
  stopReason_.clear();
  linkLost_ = false;
  stopping_ = false;
  begin(CalibrationStage::Search, TASK_HART_SEARCH);
}

void CalibrationSequence::begin(CalibrationStage stage, uint32_t task) {
  stage_ = stage;
  task_ = task;
  taskEnded_ = runDone_ = sawFinished_ = sawTrimDone_ = sawSearchDone_ = exitFailed_ = false;
  beforeTaken_ = false;
  lastErr_ = 0;
  endText_.clear();
  due_ = false;
  host_.startTask(task);
  taskSeen_ = host_.dev().task == task;
}

void CalibrationSequence::beginRun(CalibrationStage stage) {
  std::string why;
  running_ = host_.prepareRun(why);
  if (!running_) return halt(why.empty() ? "поверка не может начаться" : why);
  begin(stage, TASK_CHECK);
}

void CalibrationSequence::onNotify(const TDev& d) {
  if (stage_ == CalibrationStage::Finished || stage_ == CalibrationStage::Idle || linkLost_) return;
  // Also after a stop: a stage that failed because the link went is told as that.
  if (d.event == EVENT_LINK_CHANGED && d.linked == 0) return loseLink();
  // A HART task whose port has gone ends with the library's "link lost" code before the link's own
  // notification comes: the devices it fixed at a current stay on the list for the next connection.
  if (d.task == task_ && d.errCode == kErrLinkLost && d.errText) return loseLink();
  if (stage_ == CalibrationStage::Stopped) return;
  // A device that answered neither exit request, a channel not selected, a check that failed: the
  // devices may still be fixed at a current.
  if ((stage_ == CalibrationStage::ExitFixed || stage_ == CalibrationStage::CurrentTrim) && d.task == task_ &&
      (d.errCode == 4 || d.errCode == 5 || d.errCode == 6) && d.errText)
    exitFailed_ = true;
  if (d.task == task_) {
    taskSeen_ = true;
    if (d.retCode == RETCODE_FINISHED) sawFinished_ = true;
    if (d.event == EVENT_SENSOR_TRIM_DONE) sawTrimDone_ = true;
    if (d.event == EVENT_HART_SEARCH_DONE) sawSearchDone_ = true;
    if (d.hartCh >= 0 && d.hartCh < 4) lastHartCh_ = d.hartCh;
  }
  if (stage_ == CalibrationStage::SensorTrim && d.task == task_) {
    // A device that refuses command 82 is reported with errCode 2 and its answer's text while the
    // trim goes on with the next channel.
    if (d.errCode == 2 && d.errText && d.errCode != lastErr_ && d.hartCh >= 0 && d.hartCh < 4) {
      CalibrationChannel& c = ch_[static_cast<size_t>(d.hartCh)];
      if (!c.refused) {
        c.refused = true;
        c.reason = std::string(kRefusedReason) + textOf(d.errText);
      }
    }
    for (int c : trimGroup_) {
      if (d.hartStage == 1) ch_[static_cast<size_t>(c)].pRefMin = d.pRef;
      if (d.hartStage == 2) ch_[static_cast<size_t>(c)].pRefMax = d.pRef;
    }
  }
  if (stage_ == CalibrationStage::CurrentTrim && d.task == task_ && !beforeTaken_ &&
      textOf(d.dsc[1]) == "Подстройка тока") {
    // The check before the trim has ended: its readings are the "before".
    beforeTaken_ = true;
    for (int c : trimGroup_)
      for (int k = 0; k < 3; ++k)
        ch_[static_cast<size_t>(c)].currentBefore[static_cast<size_t>(k)] = d.hartChk[c].meas[k];
  }
  lastErr_ = d.errText ? d.errCode : 0;

  const bool run = stage_ == CalibrationStage::AsFound || stage_ == CalibrationStage::AsLeft;
  if (run && !runDone_ && d.task == TASK_CHECK && d.retCode == RETCODE_VERIFICATION_DONE) {
    // Only the first end code counts; the run's results are taken from this notification's record.
    runDone_ = true;
    if (running_) running_->follow(d);
    due_ = true;
    return;
  }
  if (taskSeen_ && !taskEnded_ && d.task == TASK_MEASURE) {
    if (d.linked == 0) return loseLink();
    taskEnded_ = true;
    endText_ = d.errCode != 0 ? textOf(d.errText) : std::string();
    due_ = true;
  }
}

void CalibrationSequence::advance() {
  if (!due_ || finished()) return;
  due_ = false;
  switch (stage_) {
    case CalibrationStage::Search:
      if (!sawSearchDone_)
        return halt("поиск HART-устройств прерван" + (endText_.empty() ? "" : ": " + endText_));
      for (int c = 0; c < 4; ++c) ch_[static_cast<size_t>(c)].hart = host_.dev().hart[c].found != 0;
      return beginRun(CalibrationStage::AsFound);
    case CalibrationStage::AsFound:
      if (!runDone_)
        return halt("поверка до подстройки прервана" + (endText_.empty() ? "" : ": " + endText_));
      asFound_ = std::move(running_);
      return afterAsFound();
    case CalibrationStage::SensorTrim:
      return afterSensorTrim();
    case CalibrationStage::CurrentTrim:
      return afterCurrentTrim();
    case CalibrationStage::ExitFixed:
      // Only an exit every device answered takes them off the list for the next connection.
      if (!exitFailed_) pendingExit_ = {};
      if (stopping_) {
        stage_ = CalibrationStage::Stopped;
        nameUnfinished();
        return;
      }
      return beginRun(CalibrationStage::AsLeft);
    case CalibrationStage::AsLeft:
      if (!runDone_)
        return halt("поверка после подстройки прервана" + (endText_.empty() ? "" : ": " + endText_));
      asLeft_ = std::move(running_);
      return afterAsLeft();
    default:
      return;
  }
}

void CalibrationSequence::afterAsFound() {
  const TDev& rec = asFound_->record();
  const TDev& live = host_.dev();
  const float limitLo = live.calInfo.pLimitMin, limitHi = live.calInfo.pLimitMax;
  const bool limitsKnown = std::isfinite(limitLo) && std::isfinite(limitHi) && limitHi > limitLo;
  trimGroups_.clear();
  for (int c = 0; c < 4; ++c) {
    CalibrationChannel& x = ch_[static_cast<size_t>(c)];
    x.enabled = rec.devCh[c].enabled != 0;
    if (!x.enabled) continue;
    x.asFound = channelSuitable(rec, c);
    const bool wanted = options_.always || x.asFound != true;
    if (!x.hart) {
      x.reason = kNoHartReason;
      continue;
    }
    if (!wanted) continue;
    if (live.hart[c].pollingAddress != 0) {
      // The current trim moves the device to polling address 0; a device kept at another address
      // (a multidrop loop) is not the sequence's to move.
      x.reason = "подстройка невозможна: HART-адрес прибора не 0";
      continue;
    }
    const float lo = rec.devCh[c].MinKpa, hi = rec.devCh[c].MaxKpa;
    const float margin = std::fabs(hi - lo) * kTrimPointMargin;
    float pmin = lo, pmax = hi;
    if (limitsKnown) {
      pmin = std::clamp(pmin, limitLo, limitHi);
      pmax = std::clamp(pmax, limitLo, limitHi);
    }
    if (!std::isfinite(lo) || !std::isfinite(hi) || !(hi > lo) || std::fabs(pmin - lo) > margin ||
        std::fabs(pmax - hi) > margin) {
      x.reason = "подстройка невозможна: диапазон прибора вне пределов калибратора";
      continue;
    }
    x.toAdjust = true;
    x.trimPmin = pmin;
    x.trimPmax = pmax;
    // Devices with the same trim points share one trim (the calibrator holds one pressure at a time).
    auto group = std::find_if(trimGroups_.begin(), trimGroups_.end(), [&](const std::vector<int>& g) {
      const CalibrationChannel& first = ch_[static_cast<size_t>(g.front())];
      return first.trimPmin == pmin && first.trimPmax == pmax;
    });
    if (group == trimGroups_.end())
      trimGroups_.push_back({c});
    else
      group->push_back(c);
  }
  if (trimGroups_.empty()) {
    // Nothing to adjust: the as-found run is the result; no as-left run is claimed.
    stage_ = CalibrationStage::Finished;
    return;
  }
  nextSensorTrim();
}

void CalibrationSequence::nextSensorTrim() {
  if (trimGroups_.empty()) return beginCurrentTrim();
  trimGroup_ = trimGroups_.front();
  trimGroups_.erase(trimGroups_.begin());
  TDev& d = host_.dev();
  for (int c = 0; c < 4; ++c) d.trimOn[c] = 0;
  for (int c : trimGroup_) d.trimOn[c] = 1;
  const CalibrationChannel& first = ch_[static_cast<size_t>(trimGroup_.front())];
  d.trimPmin = first.trimPmin;
  d.trimPmax = first.trimPmax;
  d.trimCorridor = options_.trimCorridorPercent;
  d.trimTime = std::max(options_.trimHoldS, 0);
  begin(CalibrationStage::SensorTrim, TASK_HART_TUNE_TRIM);
}

void CalibrationSequence::afterSensorTrim() {
  if (!sawTrimDone_) return halt("подстройка сенсора прервана" + (endText_.empty() ? "" : ": " + endText_));
  for (int c : trimGroup_) {
    CalibrationChannel& x = ch_[static_cast<size_t>(c)];
    if (!x.refused) x.sensorTrimmed = true;
  }
  nextSensorTrim();
}

void CalibrationSequence::beginCurrentTrim() {
  trimGroup_.clear();
  for (int c = 0; c < 4; ++c) {
    const CalibrationChannel& x = ch_[static_cast<size_t>(c)];
    if (x.toAdjust && !x.refused) trimGroup_.push_back(c);
  }
  if (trimGroup_.empty()) return beginRun(CalibrationStage::AsLeft);
  TDev& d = host_.dev();
  for (int c = 0; c < 4; ++c) {
    const bool on = std::find(trimGroup_.begin(), trimGroup_.end(), c) != trimGroup_.end();
    d.hartChk[c].active = on ? 1u : 0u;
    pendingExit_[static_cast<size_t>(c)] = on;
  }
  lastHartCh_ = -1;
  begin(CalibrationStage::CurrentTrim, TASK_HART_TUNE_I);
}

void CalibrationSequence::afterCurrentTrim() {
  const TDev& d = host_.dev();
  if (sawFinished_) {
    // The trim ends with its own check and the exit from fixed-current mode.
    for (int c : trimGroup_) {
      CalibrationChannel& x = ch_[static_cast<size_t>(c)];
      x.currentTrimmed = true;
      for (int k = 0; k < 3; ++k) x.currentAfter[static_cast<size_t>(k)] = d.hartChk[c].meas[k];
    }
    if (exitFailed_) {
      // The trims were taken, but the check after them or the exit did not reach every device.
      exitFailed_ = false;
      return begin(CalibrationStage::ExitFixed, TASK_HART_EXIT_I_OUT);
    }
    pendingExit_ = {};
    return beginRun(CalibrationStage::AsLeft);
  }
  // The trim stopped at the channel it was working on: the channels before it were trimmed, that one
  // refused, the ones after it were not reached. Its devices may still be in fixed-current mode.
  interruptedTrim_ = trimGroup_;
  for (int c : trimGroup_) {
    CalibrationChannel& x = ch_[static_cast<size_t>(c)];
    if (!beforeTaken_ || c == lastHartCh_) {
      x.refused = true;
      x.reason =
          std::string(kRefusedReason) + (endText_.empty() ? "подстройка тока не подтверждена" : endText_);
    } else if (c < lastHartCh_) {
      x.currentTrimmed = true;
    } else {
      x.reason = "подстройка тока не выполнена: прервана на другом приборе";
    }
  }
  begin(CalibrationStage::ExitFixed, TASK_HART_EXIT_I_OUT);
}

void CalibrationSequence::afterAsLeft() {
  const TDev& rec = asLeft_->record();
  for (int c = 0; c < 4; ++c) {
    CalibrationChannel& x = ch_[static_cast<size_t>(c)];
    if (!x.enabled) continue;
    x.asLeft = channelSuitable(rec, c);
    if (!x.toAdjust || x.refused || !x.reason.empty()) continue;
    if (!x.asLeft)
      x.reason = "после подстройки не измерен";
    else if (!*x.asLeft)
      x.reason = kStillFailsReason;
  }
  stage_ = CalibrationStage::Finished;
}

void CalibrationSequence::loseLink() {
  // Nothing can be sent any more: the sequence ends here, and what it left in fixed-current mode
  // stays in pendingExitFixed() for the next connection. A trim that failed because the link went
  // is no refusal of its devices.
  linkLost_ = true;
  for (int c : interruptedTrim_) {
    CalibrationChannel& x = ch_[static_cast<size_t>(c)];
    x.refused = false;
    x.currentTrimmed = false;
    x.reason = "подстройка прервана: связь с калибратором потеряна";
  }
  stage_ = CalibrationStage::Stopped;
  stopReason_ = "связь с калибратором потеряна";
  due_ = false;
  nameUnfinished();
}

void CalibrationSequence::nameUnfinished() {
  for (CalibrationChannel& x : ch_) {
    if (!x.enabled || !x.toAdjust || !x.reason.empty()) continue;
    x.reason = x.sensorTrimmed || x.currentTrimmed ? "после подстройки не измерен: калибровка остановлена"
                                                   : "подстройка не выполнена: калибровка остановлена";
  }
}

void CalibrationSequence::halt(const std::string& why) {
  stopReason_ = why;
  if (any(pendingExit_) && !linkLost_) {
    stopping_ = true;
    begin(CalibrationStage::ExitFixed, TASK_HART_EXIT_I_OUT);
    return;
  }
  stage_ = CalibrationStage::Stopped;
  nameUnfinished();
}

void CalibrationSequence::stop(const std::string& why) {
  if (finished() || stage_ == CalibrationStage::Idle) return;
  stopping_ = true;
  stopReason_ = why;
  running_.reset();
  host_.startTask(TASK_MEASURE);
  if (any(pendingExit_) && !linkLost_) {
    begin(CalibrationStage::ExitFixed, TASK_HART_EXIT_I_OUT);
    return;
  }
  stage_ = CalibrationStage::Stopped;
  due_ = false;
  nameUnfinished();
}

bool CalibrationSequence::succeeded() const {
  if (stage_ != CalibrationStage::Finished) return false;
  for (const CalibrationChannel& x : ch_) {
    if (!x.enabled) continue;
    const bool needed = x.toAdjust || x.asFound != true;
    if (needed && !(x.adjustedAndPassing() && x.reason.empty())) return false;
  }
  return true;
}

}  // namespace quarn::data
