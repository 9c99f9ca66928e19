#include "quarnsim/engine.h"

#include <algorithm>

#include "bench.h"

namespace quarnsim {

namespace {

constexpr int kCalibratorAddress = 1;
constexpr int kKestoAddress = 3;
constexpr int kPacketError = 50;

int defaultDeviceType(const Scenario& s) {
  if (s.deviceType >= 0) return s.deviceType;
  return s.model == Model::Quarn ? 105 : 84;
}

}  // namespace

Engine::Impl::Impl(Scenario s) : scenario(std::move(s)), random(scenario.seed), pressure(scenario) {
  unit.refSource = scenario.refSource;
  unit.subRange = scenario.subRange;
  unit.pressType = scenario.pressType;
  unit.units = scenario.units;
  unit.decimals = scenario.decimals;
  unit.averaging = scenario.averaging;
  unit.readyBand1 = scenario.readyBand1;
  unit.readyBand2 = scenario.readyBand2;
  unit.autoRange = scenario.autoRange;
  unit.sensorOffsetKPa = scenario.zeroOffsetKPa;
  unit.deviceType = defaultDeviceType(scenario);
  kesto.inputType = scenario.kestoInputType;
  for (int ch = 0; ch < 4; ++ch) {
    transmitters[ch] = std::make_unique<Transmitter>(scenario.channels[ch]);
    transmitters[ch]->setPressure(pressure.pressure, 0.0);
    hart.attach(ch, transmitters[ch].get());
  }
  updateSwitches();
}

int64_t Engine::Impl::hostToUs(uint32_t nowMs) {
  if (!clockStarted) {
    clockStarted = true;
    lastHostMs = nowMs;
  } else {
    // Engine time never runs backwards; a host clock that is set back simply counts on from there.
    const int32_t delta = static_cast<int32_t>(nowMs - lastHostMs);
    if (delta > 0) hostUs += static_cast<int64_t>(delta) * 1000;
    lastHostMs = nowMs;
  }
  advanceBench(hostUs);
  return hostUs;
}

uint32_t Engine::Impl::usToHostMs(int64_t us) const {
  const int64_t deltaUs = us - hostUs;
  const int64_t deltaMs = deltaUs > 0 ? (deltaUs + 999) / 1000 : deltaUs / 1000;
  return lastHostMs + static_cast<uint32_t>(deltaMs);
}

void Engine::Impl::advanceBench(int64_t us) {
  if (us <= simUs) return;
  const double fromS = static_cast<double>(simUs) / 1e6;
  const double toS = static_cast<double>(us) / 1e6;
  const double chunk = std::max(0.05, (toS - fromS) / 500.0);  // a day of virtual time costs ~1e5 steps
  for (double t = fromS; t < toS;) {
    t = std::min(toS, t + chunk);
    pressure.advance(t, scenario);
    for (auto& transmitter : transmitters) transmitter->setPressure(pressure.pressure, t);
    updateSwitches();
  }
  simUs = us;
}

double Engine::Impl::turnaroundMs(FaultTarget target) {
  const DelayRange& range = target == FaultTarget::Kesto  ? scenario.kestoTurnaround
                            : target == FaultTarget::Dorv ? scenario.dorvTurnaround
                                                          : scenario.turnaround;
  return random.uniform(range.minMs, range.maxMs);
}

void Engine::Impl::onRequest(LinePort& port, const uail::RequestReceiver::Result& result, int64_t atUs) {
  advanceBench(atUs);
  const uail::Request& rq = result.request;
  const bool damaged = result.kind == uail::RequestReceiver::Result::Kind::BadChecksum;

  FaultTarget target;
  std::optional<std::string> answer;
  if (port.role() == LinePort::Role::Dorv) {
    if (!scenario.dorvFitted || rq.address != scenario.dorvAddress) return;
    target = FaultTarget::Dorv;
    answer = damaged ? errorBody(rq.address, kPacketError) : dorvAnswer(rq);
  } else if (rq.address == kCalibratorAddress) {
    target = FaultTarget::Calibrator;
    answer = damaged ? errorBody(rq.address, kPacketError) : calibratorAnswer(rq);
  } else if (rq.address == kKestoAddress && scenario.kestoFitted) {
    target = FaultTarget::Kesto;
    answer = damaged ? errorBody(rq.address, kPacketError) : kestoAnswer(rq);
  } else {
    return;  // no such module on this line
  }

  const auto out = applyFaults(target, damaged ? -1 : rq.type, answer);
  if (!out) return;
  const double delayMs = turnaroundMs(target) + out->extraDelayMs;
  port.send(out->bytes, atUs + static_cast<int64_t>(delayMs * 1000.0));
}

// ---- Engine ---------------------------------------------------------------------------------

Engine::Engine(Scenario scenario)
    : impl_(std::make_unique<Impl>(std::move(scenario))),
      calibratorPort_(*this, LinePort::Role::Calibrator),
      dorvPort_(*this, LinePort::Role::Dorv) {}

Engine::~Engine() = default;

LinePort& Engine::calibratorPort() { return calibratorPort_; }
LinePort& Engine::dorvPort() { return dorvPort_; }
const Scenario& Engine::scenario() const { return impl_->scenario; }

void Engine::advanceTo(uint32_t nowMs) { impl_->hostToUs(nowMs); }
double Engine::nowS() const { return static_cast<double>(impl_->simUs) / 1e6; }

double Engine::pressureKPa() const { return impl_->pressure.pressure; }
void Engine::setPressureKPa(double kPa) { impl_->pressure.pressure = kPa; }
void Engine::setSourceKPa(double kPa) { impl_->pressure.source = kPa; }
void Engine::operatorVents() {
  impl_->scenario.operatorScript.pointsKPa.clear();
  impl_->pressure.inputOpen = false;
  impl_->pressure.ventOpen = true;
}
void Engine::operatorSetsPressure(double kPa) {
  impl_->scenario.operatorScript.pointsKPa.clear();
  impl_->pressure.source = kPa;
  impl_->pressure.inputOpen = true;
  impl_->pressure.ventOpen = false;
}
bool Engine::inputValveOpen() const { return impl_->pressure.inputOpen; }
bool Engine::ventValveOpen() const { return impl_->pressure.ventOpen; }
int Engine::operatingMode() const { return impl_->pressure.mode; }
double Engine::setpointKPa() const { return impl_->pressure.setpoint; }
bool Engine::remoteOperation() const { return impl_->unit.remote; }
double Engine::baroKPa() const { return impl_->scenario.baroKPa; }

int Engine::kestoInputType() const { return impl_->kesto.inputType; }
int Engine::selectedChannel() const { return impl_->hart.selectedChannel(); }
uint8_t Engine::contactInputs() const { return impl_->contacts(); }
float Engine::kestoReading(int channel) const { return impl_->kestoValue(std::clamp(channel, 0, 3)); }
uint16_t Engine::channelStatusWord() const { return impl_->statusWord(); }

Transmitter& Engine::transmitter(int channel) { return *impl_->transmitters[std::clamp(channel, 0, 3)]; }
HartLine& Engine::hartLine() { return impl_->hart; }

long Engine::requestsSeen(FaultTarget target) const { return impl_->requests[static_cast<size_t>(target)]; }
void Engine::addFault(const Fault& fault) { impl_->scenario.faults.push_back(fault); }
void Engine::clearFaults() {
  impl_->scenario.faults.clear();
  impl_->faultHits.clear();
  impl_->faultInScope.clear();
  impl_->faultStartUs.clear();
}
void Engine::setConnected(bool connected) { impl_->connected = connected; }
bool Engine::connected() const { return impl_->present(); }

}  // namespace quarnsim
