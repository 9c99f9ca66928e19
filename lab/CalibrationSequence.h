// One-button calibration: an as-found verification of every switched-on channel, a sensor trim and a
// current trim of each HART device that needs one, and an as-left verification with the same points.
// The sequence decides and watches; the host starts the library's tasks it asks for and prepares the
// verification runs as its start button does. Both hosts run this same code.
//
// The host feeds every notification of the library to onNotify() (it only looks), and calls advance()
// outside the library's callback whenever actionDue() says a step is waiting: the next task is
// started from there, never from inside a notification.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RunSnapshot.h"
#include "TDev.h"

namespace quarn::data {

enum class CalibrationStage {
  Idle,
  Search,
  AsFound,
  SensorTrim,
  CurrentTrim,
  ExitFixed,
  AsLeft,
  Finished,
  Stopped
};

// The stage in the operator's words ("Поверка до подстройки", "Подстройка сенсора", ...).
const char* calibrationStageText(CalibrationStage stage);

// What the sequence needs from its host.
class CalibrationHost {
 public:
  virtual ~CalibrationHost() = default;
  virtual TDev& dev() = 0;
  virtual void startTask(uint32_t task) = 0;
  // Prepares a verification run from the project as the start button does (points, results
  // cleared, readiness) and returns the run's own snapshot; nullptr with the reason when it cannot.
  virtual std::unique_ptr<RunSnapshot> prepareRun(std::string& why) = 0;
};

// The reasons a channel is named with.
inline constexpr const char* kNoHartReason = "подстройка невозможна: нет HART";
inline constexpr const char* kRefusedReason = "прибор отказал: ";
inline constexpr const char* kStillFailsReason = "после подстройки погрешность превышает допускаемую";

struct CalibrationChannel {
  bool enabled = false;
  bool hart = false;      // a HART device was found on the channel by the search before the run
  bool toAdjust = false;  // chosen for the trims (not suitable as found, or "always")
  bool sensorTrimmed = false;
  bool currentTrimmed = false;
  bool refused = false;                 // the device refused a trim
  std::optional<bool> asFound, asLeft;  // verdicts of the runs that measured the channel
  std::string reason;                   // why it was not adjusted, or why it fails; empty when all is well
  // The sensor trim: the pressures asked for and the reference at which each point was written.
  float trimPmin = NAN, trimPmax = NAN, pRefMin = NAN, pRefMax = NAN;
  // The current check at 4, 12 and 20 mA before the trim and after it (mA, as the Kesto module read).
  std::array<float, 3> currentBefore{NAN, NAN, NAN}, currentAfter{NAN, NAN, NAN};

  // Adjusted and measured suitable as left.
  bool adjustedAndPassing() const { return (sensorTrimmed || currentTrimmed) && asLeft == true; }
};

struct CalibrationOptions {
  bool always = false;                // trim every HART device, also the suitable ones
  float trimCorridorPercent = 0.05f;  // readiness band of the sensor trim, % of the trimmed span
  int32_t trimHoldS = 2;              // how long the readings must hold still before a trim point is written
};

class CalibrationSequence {
 public:
  CalibrationSequence(CalibrationHost& host, CalibrationOptions options);
  ~CalibrationSequence();
  CalibrationSequence(const CalibrationSequence&) = delete;
  CalibrationSequence& operator=(const CalibrationSequence&) = delete;

  // Starts with the HART search.
  void start();
  // Every notification of the library, with the record as it left it. Only looks.
  void onNotify(const TDev& d);
  // A step is waiting for advance().
  bool actionDue() const { return due_; }
  // Takes the waiting step: starts the next task or ends the sequence.
  void advance();
  // The operator's stop: the task in progress is stopped; devices the sequence put in fixed-current
  // mode are taken out of it (a task of its own, after which the sequence is stopped).
  void stop(const std::string& why = "остановлено оператором");

  CalibrationStage stage() const { return stage_; }
  bool finished() const {
    return stage_ == CalibrationStage::Finished || stage_ == CalibrationStage::Stopped;
  }
  // Why the sequence stopped (empty when it ran to its end).
  const std::string& stopReason() const { return stopReason_; }
  // The link was lost while it ran.
  bool linkLost() const { return linkLost_; }
  // Channels whose devices the sequence put in fixed-current mode and has not taken out again: the
  // next connection must send them the exit (task 17).
  const std::array<bool, 4>& pendingExitFixed() const { return pendingExit_; }
  void exitFixedSent() { pendingExit_ = {}; }

  const std::array<CalibrationChannel, 4>& channels() const { return ch_; }
  const RunSnapshot* asFound() const { return asFound_.get(); }
  const RunSnapshot* asLeft() const { return asLeft_.get(); }
  // Every channel that was to be adjusted (chosen, or not suitable as found) is adjusted and passes
  // as left, and the sequence ran to its end.
  bool succeeded() const;

 private:
  enum class Wait { None, TaskEnd, RunEnd };
  void begin(CalibrationStage stage, uint32_t task);
  void beginRun(CalibrationStage stage);
  void afterSearch();
  void afterAsFound();
  void nextSensorTrim();
  void afterSensorTrim();
  void beginCurrentTrim();
  void afterCurrentTrim();
  void afterAsLeft();
  void halt(const std::string& why);
  void loseLink();
  void nameUnfinished();  // the reason of each channel a stopped sequence did not finish

  CalibrationHost& host_;
  CalibrationOptions options_;
  CalibrationStage stage_ = CalibrationStage::Idle;
  std::array<CalibrationChannel, 4> ch_{};
  std::unique_ptr<RunSnapshot> asFound_, asLeft_, running_;

  // The task in progress and what its notifications showed.
  uint32_t task_ = 0;
  bool taskSeen_ = false;
  bool taskEnded_ = false;
  bool runDone_ = false;
  bool sawFinished_ = false;          // retCode 1 while the task ran
  bool sawTrimDone_ = false;          // event 7
  bool sawSearchDone_ = false;        // event 6
  bool beforeTaken_ = false;          // the current check before the trim was read
  int32_t lastHartCh_ = -1;           // the channel the HART task worked on last
  bool exitFailed_ = false;           // the exit from fixed-current mode did not reach every device
  std::vector<int> interruptedTrim_;  // channels of a current trim that did not end
  uint32_t lastErr_ = 0;
  std::string endText_;
  std::vector<int> trimGroup_;  // channels of the sensor trim in progress
  std::vector<std::vector<int>> trimGroups_;
  bool due_ = false;
  bool stopping_ = false;
  bool linkLost_ = false;
  std::string stopReason_;
  std::array<bool, 4> pendingExit_{};
};

}  // namespace quarn::data
