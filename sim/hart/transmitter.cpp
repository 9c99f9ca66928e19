#include "quarnsim/transmitter.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "hart_codec.h"
#include "hart_frame.h"
#include "transmitter_state.h"

namespace quarnsim {

// ---------------------------------------------------------------------------------------------
// Physics: pressure → damped, calibrated primary variable → output signal.

double Transmitter::State::unitsToKPa() const {
  const double f = hart::pressureUnitToKPa(config.units);
  return f > 0 ? f : 1.0;
}

double Transmitter::State::errorKPa() const {
  const double hours = timeKnown ? (nowS - startS) / 3600.0 : 0.0;
  const double percent = config.errorPercent + config.driftPercentPerHour * hours;
  return percent / 100.0 * std::fabs(config.upperRange - config.lowerRange) * unitsToKPa();
}

double Transmitter::State::sensorReadingKPa(double pressureKPa) const {
  return config.sensorTrimGain * (pressureKPa + errorKPa()) + config.sensorTrimOffsetKPa;
}

double Transmitter::State::primaryKPa() const { return sensorReadingKPa(dampedKPa); }

double Transmitter::State::primaryValue() const { return primaryKPa() / unitsToKPa(); }

double Transmitter::State::percentOfRange() const {
  const double span = config.upperRange - config.lowerRange;
  if (span == 0 || !std::isfinite(span)) return 0;
  return (primaryValue() - config.lowerRange) / span * 100.0;
}

bool Transmitter::State::loopCurrentEnabled() const {
  if (config.hartRevision < 6) return config.pollingAddress == 0;
  return config.loopCurrentEnabled;
}

void Transmitter::State::outputEnds(double& atZero, double& atFull) const {
  switch (config.output) {
    case OutputType::mA0_5:
      atZero = 0, atFull = 5;
      break;
    case OutputType::mA5_0:
      atZero = 5, atFull = 0;
      break;
    case OutputType::mA20_4:
      atZero = 20, atFull = 4;
      break;
    case OutputType::Voltage:
      atZero = config.voltageLow, atFull = config.voltageHigh;
      break;
    case OutputType::mA4_20:
    default:
      atZero = 4, atFull = 20;
      break;
  }
}

void Transmitter::State::physicalLimits(double& low, double& high) const {
  double a, b;
  outputEnds(a, b);
  const double span = std::fabs(b - a);
  low = std::max(0.0, std::min(a, b) - 0.025 * span);
  high = std::max(a, b) + 0.2 * span;
}

double Transmitter::State::idealSignal(bool* saturated) const {
  if (saturated) *saturated = false;
  double atZero, atFull;
  outputEnds(atZero, atFull);
  if (fixedMode) return fixedMa;
  if (!loopCurrentEnabled()) {
    // Multidrop: the output parks at the low end of a live-zero loop (4 mA), else at its low end.
    return config.output == OutputType::mA4_20 || config.output == OutputType::mA20_4
               ? 4.0
               : std::min(atZero, atFull);
  }
  double x = percentOfRange() / 100.0;
  if (config.function == TransferFunction::SquareRoot) x = x < 0 ? -std::sqrt(-x) : std::sqrt(x);
  const double lo = config.saturationLowPercent / 100.0, hi = config.saturationHighPercent / 100.0;
  if (!(x >= lo)) {  // also a NaN reading
    x = lo;
    if (saturated) *saturated = true;
  } else if (x > hi) {
    x = hi;
    if (saturated) *saturated = true;
  }
  return atZero + x * (atFull - atZero);
}

double Transmitter::State::outputCommand(double ideal) const {
  return config.outputK * ideal + config.outputB;
}

double Transmitter::State::signal() const {
  if (!config.present) return 0;
  const double driven = config.analogGain * outputCommand(idealSignal(nullptr)) + config.analogOffset;
  double low, high;
  physicalLimits(low, high);
  if (std::isnan(driven)) return low;
  return std::clamp(driven, low, high);
}

uint8_t Transmitter::State::deviceStatus() const {
  uint8_t status = 0;
  if (configChanged) status |= device_status::kConfigChanged;
  if (coldStart) status |= device_status::kColdStart;
  if (fixedMode) status |= device_status::kLoopCurrentFixed;
  bool saturated = false;
  idealSignal(&saturated);
  if (saturated) status |= device_status::kLoopCurrentSaturated;
  const double pv = primaryValue();
  if (!(pv >= config.lowerSensorLimit && pv <= config.upperSensorLimit)) {
    status |= device_status::kPrimaryOutOfLimits;
  }
  return status;
}

void Transmitter::State::advance(double now) {
  if (!timeKnown) {
    timeKnown = true;
    startS = nowS = now;
    dampedKPa = appliedKPa;
    return;
  }
  const double dt = now - nowS;
  if (!(dt > 0)) return;  // time never runs backwards for the lag
  nowS = now;
  const double tau = config.damping;
  if (tau > 0 && std::isfinite(tau)) {
    dampedKPa = appliedKPa + (dampedKPa - appliedKPa) * std::exp(-dt / tau);
  } else {
    dampedKPa = appliedKPa;
  }
}

void Transmitter::State::markConfigChanged() {
  configChanged = true;
  ++configChangeCounter;
}

void Transmitter::State::deviceReset() {
  fixedMode = false;
  fixedMa = 0;
  zeroTrimDone = false;
  coldStart = true;
}

// ---------------------------------------------------------------------------------------------

Transmitter::Transmitter(TransmitterConfig config) : state_(std::make_unique<State>()) {
  state_->config = config;
  state_->factory = std::move(config);
}

Transmitter::~Transmitter() = default;

void Transmitter::startOver(TransmitterConfig config) {
  std::vector<uint8_t> commands = std::move(state_->commands);
  commands.clear();
  *state_ = State{};
  state_->commands = std::move(commands);
  state_->config = config;
  state_->factory = std::move(config);
}

void Transmitter::setPressure(double kPa, double nowS) {
  const bool first = !state_->timeKnown;
  state_->advance(nowS);
  state_->appliedKPa = kPa;
  // The first pressure finds the sensor settled; without damping it follows at once.
  if (first || !(state_->config.damping > 0)) state_->dampedKPa = kPa;
}

void Transmitter::advance(double nowS) { state_->advance(nowS); }

double Transmitter::loopCurrent() const { return state_->signal(); }

bool Transmitter::fixedCurrentMode() const { return state_->fixedMode; }

double Transmitter::primaryValue() const { return state_->primaryValue(); }

const TransmitterConfig& Transmitter::config() const { return state_->config; }

TransmitterConfig& Transmitter::config() { return state_->config; }

int Transmitter::requestsSeen() const { return state_->requests; }

const std::vector<uint8_t>& Transmitter::commandsSeen() const { return state_->commands; }

std::vector<uint8_t> Transmitter::handleFrame(const std::vector<uint8_t>& frame) {
  State& s = *state_;
  const TransmitterConfig& c = s.config;
  if (!c.present || !c.hart) return {};

  hart::Request request;
  if (hart::parseRequest(frame.data(), frame.size(), request) != hart::ParseResult::Ok) return {};

  if (request.longAddress) {
    // Bits 6 and 7 of the first byte carry the burst and master flags, not address bits.
    const bool mine = (request.address[0] & 0x3F) == ((c.expandedDeviceType >> 8) & 0x3F) &&
                      request.address[1] == (c.expandedDeviceType & 0xFF) &&
                      hart::getU24(request.address + 2) == (c.deviceId & 0xFFFFFF);
    if (!mine) return {};
  } else {
    // A short frame addresses a device by its polling address and is taken for command 0 only.
    if ((request.address[0] & 0x3F) != c.pollingAddress || request.command != 0) return {};
  }

  ++s.requests;
  s.commands.push_back(request.command);
  const HartFaults& f = c.faults;
  if (f.silent) return {};
  if (f.stopAfterRequests >= 0 && s.requests > f.stopAfterRequests) return {};

  Reply reply;
  if (f.errorCommand == request.command && (f.errorCount < 0 || s.errorAnswers < f.errorCount)) {
    reply.code = f.errorCode;
    ++s.errorAnswers;
  } else {
    reply = s.execute(request);
  }
  // Error answers carry no data; warnings (codes 8, 14, 30, ...) keep theirs.
  const uint8_t status = s.deviceStatus();
  s.coldStart = false;
  const size_t preambles = c.hartRevision >= 6 ? std::max<uint8_t>(c.responsePreambles, 2) : 5;
  std::vector<uint8_t> answer = hart::buildAnswer(request, preambles, reply.code, status, reply.data);
  if (request.command == 42 && reply.code == response::kOk) s.deviceReset();

  if (f.badChecksum || s.requests <= f.damagedFirst) answer.back() ^= 0xFF;
  if (f.truncated) answer.resize(preambles + (answer.size() - preambles) / 2);
  return answer;
}

}  // namespace quarnsim
