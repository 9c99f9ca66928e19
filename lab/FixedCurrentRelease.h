// After a lost link: the devices a calibration left in fixed-current mode are taken out of it once
// the calibrator is linked again. A new connection knows no devices (the exit addresses each device
// by the long address a search reads), so a HART search (task 10) comes first, then the exit from
// fixed-current mode (task 17), which sends every found device command 40 with 0 mA.
//
// The host drives it as it drives the calibration sequence: every notification to onNotify() (it
// only looks), advance() outside the library's callback whenever actionDue() says a step waits.
// Both hosts run this same code.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "CalibrationSequence.h"
#include "TDev.h"

namespace quarn::data {

class FixedCurrentRelease {
 public:
  enum class Stage { Idle, Search, Exit, Done, Failed };

  explicit FixedCurrentRelease(CalibrationHost& host) : host_(host) {}

  // The channels whose devices may still be fixed at a current (a sequence's pendingExitFixed()).
  // Nothing to do when none is set.
  void arm(const std::array<bool, 4>& channels);
  bool armed() const;
  const std::array<bool, 4>& channels() const { return channels_; }

  // The calibrator is linked and measuring, its Kesto module read: the search may start.
  static bool linkReady(const TDev& d);

  // Starts the search (armed only).
  void start();
  void onNotify(const TDev& d);
  bool actionDue() const { return due_; }
  void advance();

  Stage stage() const { return stage_; }
  bool running() const { return stage_ == Stage::Search || stage_ == Stage::Exit; }
  bool finished() const { return stage_ == Stage::Done || stage_ == Stage::Failed; }
  // Every armed device was found again and answered the exit. Done or Failed alike leave the
  // channels that still need the exit armed (a lost link again: for the next connection).
  bool succeeded() const { return stage_ == Stage::Done; }
  // What happened, in the operator's words (UTF-8).
  const std::string& text() const { return text_; }

 private:
  void begin(Stage stage, uint32_t task);
  void fail(const std::string& why);

  CalibrationHost& host_;
  std::array<bool, 4> channels_{};
  Stage stage_ = Stage::Idle;
  uint32_t task_ = 0;
  bool taskSeen_ = false;
  bool sawSearchDone_ = false;
  bool exitFailed_ = false;
  bool due_ = false;
  std::string text_;
};

}  // namespace quarn::data
