#include "quarnsim/transmitter.h"

namespace quarnsim {

struct Transmitter::State {
  TransmitterConfig config;
  double pressureKPa = 0;
  int requests = 0;
};

Transmitter::Transmitter(TransmitterConfig config) : state_(std::make_unique<State>()) {
  state_->config = std::move(config);
}
Transmitter::~Transmitter() = default;

void Transmitter::setPressure(double kPa, double) { state_->pressureKPa = kPa; }
void Transmitter::advance(double) {}
double Transmitter::loopCurrent() const {
  const auto& c = state_->config;
  if (!c.present) return 0;
  double span = c.upperRange - c.lowerRange;
  return 4.0 + 16.0 * (state_->pressureKPa - c.lowerRange) / span;
}
bool Transmitter::fixedCurrentMode() const { return false; }
double Transmitter::primaryValue() const { return state_->pressureKPa; }
std::vector<uint8_t> Transmitter::handleFrame(const std::vector<uint8_t>&) { return {}; }
const TransmitterConfig& Transmitter::config() const { return state_->config; }
TransmitterConfig& Transmitter::config() { return state_->config; }
int Transmitter::requestsSeen() const { return state_->requests; }

}  // namespace quarnsim
