#include "FixedCurrentRelease.h"

#include <algorithm>

#include "TDevValues.h"

namespace quarn::data {

namespace {

// The library's error code for a task that ended because the calibrator's port went away.
constexpr uint32_t kErrLinkLost = 16;

// A device that answered neither exit request, a channel that could not be selected, a check that
// failed: the device may still be fixed at a current.
bool exitError(uint32_t errCode) { return errCode == 4 || errCode == 5 || errCode == 6; }

std::string channelList(const std::array<bool, 4>& channels) {
  std::string out;
  for (int c = 0; c < 4; ++c)
    if (channels[static_cast<size_t>(c)]) out += (out.empty() ? "" : ", ") + std::to_string(c + 1);
  return out;
}

// "Прибор канала 1 <one>" or "Приборы каналов 1, 2 <many>": the verb in the number of the devices.
std::string devices(const std::array<bool, 4>& channels, const char* one, const char* many) {
  const bool single = std::count(channels.begin(), channels.end(), true) == 1;
  return std::string(single ? "Прибор канала " : "Приборы каналов ") + channelList(channels) + " " +
         (single ? one : many);
}

}  // namespace

void FixedCurrentRelease::arm(const std::array<bool, 4>& channels) {
  channels_ = channels;
  stage_ = Stage::Idle;
  due_ = false;
  text_.clear();
}

bool FixedCurrentRelease::armed() const {
  return std::find(channels_.begin(), channels_.end(), true) != channels_.end();
}

bool FixedCurrentRelease::linkReady(const TDev& d) {
  return d.linked == 1 && d.linkState == LINK_STATE_LINKED && d.task == TASK_MEASURE && d.kestoDataValid != 0;
}

void FixedCurrentRelease::start() {
  if (!armed() || running()) return;
  text_.clear();
  begin(Stage::Search, TASK_HART_SEARCH);
}

void FixedCurrentRelease::begin(Stage stage, uint32_t task) {
  stage_ = stage;
  task_ = task;
  sawSearchDone_ = exitFailed_ = due_ = false;
  host_.startTask(task);
  taskSeen_ = host_.dev().task == task;
}

void FixedCurrentRelease::onNotify(const TDev& d) {
  if (!running() || due_) return;
  const bool gone = (d.event == EVENT_LINK_CHANGED && d.linked == 0) ||
                    (d.task == task_ && d.errCode == kErrLinkLost && d.errText);
  if (gone) {
    // Nothing more can be sent: the channels stay armed for the next connection.
    due_ = false;
    return fail("связь с калибратором снова потеряна");
  }
  if (d.task == task_) {
    taskSeen_ = true;
    if (d.event == EVENT_HART_SEARCH_DONE) sawSearchDone_ = true;
    if (stage_ == Stage::Exit && d.errText && exitError(d.errCode)) exitFailed_ = true;
  }
  // The library's common end step takes it back to measuring.
  if (taskSeen_ && d.task == TASK_MEASURE) due_ = true;
}

void FixedCurrentRelease::advance() {
  if (!due_ || !running()) return;
  due_ = false;
  const TDev& d = host_.dev();
  if (stage_ == Stage::Search) {
    if (!sawSearchDone_) return fail("поиск HART-устройств прерван");
    bool anyFound = false;
    for (int c = 0; c < 4; ++c) anyFound = anyFound || (channels_[static_cast<size_t>(c)] && d.hart[c].found);
    if (!anyFound) return fail("приборы не найдены поиском HART");
    return begin(Stage::Exit, TASK_HART_EXIT_I_OUT);
  }
  // The exit went to every device the search found.
  if (exitFailed_) return fail("не все приборы подтвердили выход из режима фиксированного тока");
  std::array<bool, 4> released{}, missing{};
  for (int c = 0; c < 4; ++c) {
    const auto i = static_cast<size_t>(c);
    if (!channels_[i]) continue;
    (d.hart[c].found ? released : missing)[i] = true;
    channels_[i] = !d.hart[c].found;
  }
  text_ = devices(released, "выведен", "выведены") + " из режима фиксированного тока.";
  if (armed()) {
    stage_ = Stage::Failed;
    text_ += " " + devices(missing, "не найден поиском HART и может", "не найдены поиском HART и могут") +
             " оставаться в режиме фиксированного тока.";
    return;
  }
  stage_ = Stage::Done;
}

void FixedCurrentRelease::fail(const std::string& why) {
  stage_ = Stage::Failed;
  text_ = devices(channels_, "может", "могут") + " оставаться в режиме фиксированного тока: " + why + ".";
}

}  // namespace quarn::data
