#include <algorithm>
#include <cmath>

#include "bench.h"

namespace quarnsim {

namespace {

// Moves `value` towards `target` with time constant `tau` over `dt` (exact for a constant target).
double approach(double value, double target, double tau, double dt) {
  if (tau <= 0) return target;
  return target + (value - target) * std::exp(-dt / tau);
}

}  // namespace

PressureSystem::PressureSystem(const Scenario& s)
    : pressure(s.initialKPa), source(s.sourceKPa), mode(s.regMode), setpoint(s.setpointKPa) {}

void PressureSystem::advance(double toS, const Scenario& s) {
  if (!(toS > tS)) return;
  const double gap = toS - tS;
  // 10 ms steps; a long jump of virtual time takes at most 200 steps (every law below is exact or
  // stable for long steps).
  const double dt = std::max(0.01, gap / 200.0);
  while (tS < toS) {
    const bool last = toS - tS <= dt;
    const double h = last ? toS - tS : dt;
    const double before = pressure;
    runOperator(s);
    step(h, s);
    tS = last ? toS : tS + h;  // lands exactly on the end, whatever the rounding
    const double rate = (pressure - before) / h;
    speedKPaS = approach(speedKPaS, rate, 0.5, h);
  }
}

void PressureSystem::step(double dt, const Scenario& s) {
  const double leak = s.leakKPaPerMin / 60.0 * dt;
  auto leakTowardsZero = [&] {
    if (std::fabs(pressure) <= leak) {
      pressure = 0;
    } else {
      pressure -= std::copysign(leak, pressure);
    }
  };

  if (s.model == Model::Quarn) {
    const double gIn = inputOpen && s.inputTauS > 0 ? 1.0 / s.inputTauS : 0.0;
    const double gVent = ventOpen && s.ventTauS > 0 ? 1.0 / s.ventTauS : 0.0;
    if (inputOpen && s.inputTauS <= 0) {
      pressure = source;
    } else if (ventOpen && s.ventTauS <= 0 && !inputOpen) {
      pressure = 0;
    } else if (gIn + gVent > 0) {
      // Both flows at once settle where they balance.
      const double equilibrium = gIn * source / (gIn + gVent);
      pressure = approach(pressure, equilibrium, 1.0 / (gIn + gVent), dt);
    } else {
      leakTowardsZero();
    }
    return;
  }

  switch (mode) {
    case 1: {  // regulate: as fast as the regulator allows, then a first-order final approach
      const double error = setpoint - pressure;
      const double tau = std::max(s.regTauS, 1e-3);
      const double rateLimit = s.regRateKPaS > 0 ? s.regRateKPaS : 1e9;
      if (std::fabs(error) / tau > rateLimit) {
        const double moved = std::copysign(std::min(rateLimit * dt, std::fabs(error)), error);
        pressure += moved;
      } else {
        pressure = approach(pressure, setpoint, tau, dt);
      }
      break;
    }
    case 2:
      pressure = approach(pressure, 0.0, s.ventTauS, dt);
      break;
    default:
      leakTowardsZero();
      break;
  }
}

void PressureSystem::runOperator(const Scenario& s) {
  const OperatorScript& script = s.operatorScript;
  if (s.model != Model::Quarn || script.pointsKPa.empty()) return;
  if (operatorPoint >= script.pointsKPa.size()) {
    if (!script.repeat) return;
    operatorPoint = 0;
  }
  const double target = script.pointsKPa[operatorPoint];
  source = target;
  if (script.opensInput) {
    inputOpen = true;
    ventOpen = false;
  }
  if (std::fabs(pressure - target) <= script.toleranceKPa) {
    if (operatorSettledS < 0) operatorSettledS = tS;
    if (tS - operatorSettledS >= script.dwellS &&
        (operatorPoint + 1 < script.pointsKPa.size() || script.repeat)) {
      ++operatorPoint;
      operatorSettledS = -1;
    }
  } else {
    operatorSettledS = -1;
  }
}

}  // namespace quarnsim
