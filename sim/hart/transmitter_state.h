// Inner state of a simulated transmitter, shared by its physics (transmitter.cpp) and its HART
// command handlers (transmitter_commands.cpp).
#pragma once

#include <cstdint>
#include <vector>

#include "hart_frame.h"
#include "quarnsim/transmitter.h"

namespace quarnsim {

// Field device status bits of the second status byte.
namespace device_status {
constexpr uint8_t kConfigChanged = 0x40;
constexpr uint8_t kColdStart = 0x20;
constexpr uint8_t kLoopCurrentFixed = 0x08;
constexpr uint8_t kLoopCurrentSaturated = 0x04;
constexpr uint8_t kPrimaryOutOfLimits = 0x01;
}  // namespace device_status

// HART response codes the transmitter uses.
namespace response {
constexpr uint8_t kOk = 0;
constexpr uint8_t kInvalidSelection = 2;
constexpr uint8_t kTooLarge = 3;
constexpr uint8_t kTooSmall = 4;
constexpr uint8_t kTooFewBytes = 5;
constexpr uint8_t kDeviceError = 6;
constexpr uint8_t kWriteProtected = 7;
constexpr uint8_t kProcessTooHigh = 9;     // also: lower range too high; wrong loop mode/value (45/46)
constexpr uint8_t kProcessTooLow = 10;     // also: lower range too low
constexpr uint8_t kExcessCorrection = 11;  // also: upper range too high; multidrop (40)
constexpr uint8_t kUpperTooLow = 12;       // also: invalid loop current mode (6)
constexpr uint8_t kBothOutOfLimits = 13;   // also: trim computation error (82)
constexpr uint8_t kVariableMissing = 17;
constexpr uint8_t kInvalidUnits = 18;
constexpr uint8_t kTrimNotSupported = 19;
constexpr uint8_t kSpanTooSmall = 29;
constexpr uint8_t kNotImplemented = 64;
}  // namespace response

struct Reply {
  uint8_t code = response::kOk;
  std::vector<uint8_t> data;
};

struct Transmitter::State {
  TransmitterConfig config;
  TransmitterConfig factory;

  // Time and pressure.
  bool timeKnown = false;
  double startS = 0;
  double nowS = 0;
  double appliedKPa = 0;
  double dampedKPa = 0;

  // Loop.
  bool fixedMode = false;
  double fixedMa = 0;
  // The first point of a loop current trim: the calibration before it, the fixed current and the
  // current the host measured there.
  bool zeroTrimDone = false;
  double zeroTrimK = 1, zeroTrimB = 0;
  double zeroTrimSet = 0;
  double zeroTrimMeasured = 0;

  // Status.
  bool coldStart = true;
  bool configChanged = false;
  uint16_t configChangeCounter = 0;
  int requests = 0;
  std::vector<uint8_t> commands;  // command number of every request addressed to this device
  int errorAnswers = 0;  // requests answered with the configured error code so far

  // Physics (transmitter.cpp).
  double unitsToKPa() const;
  double errorKPa() const;
  double sensorReadingKPa(double pressureKPa) const;  // calibrated sensor reading, undamped input
  double primaryKPa() const;                          // damped, calibrated
  double primaryValue() const;                        // in config.units
  double percentOfRange() const;                      // linear, not limited
  bool loopCurrentEnabled() const;
  // Output ends (signal at 0 % and 100 % of range) and the physical limits of the output stage.
  void outputEnds(double& atZero, double& atFull) const;
  void physicalLimits(double& low, double& high) const;
  double idealSignal(bool* saturated) const;  // before the output calibration
  double outputCommand(double ideal) const;   // after outputK/outputB
  double signal() const;                      // what the loop carries
  uint8_t deviceStatus() const;
  void advance(double nowS);
  void markConfigChanged();
  void deviceReset();

  // HART (transmitter_commands.cpp).
  Reply execute(const hart::Request& request);
};

}  // namespace quarnsim
