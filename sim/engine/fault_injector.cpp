// Injected faults: what the line carries back instead of (or besides) a module's answer.
#include <cstdlib>

#include "bench.h"

namespace quarnsim {

namespace {

bool inScope(const Fault& fault, FaultTarget target, int command) {
  return (fault.target == FaultTarget::Any || fault.target == target) &&
         (fault.command < 0 || fault.command == command);
}

}  // namespace

std::optional<Engine::Impl::Outgoing> Engine::Impl::applyFaults(FaultTarget target, int command,
                                                                std::optional<std::string> answer) {
  if (!answer) return std::nullopt;  // nobody addressed: nothing happens on the line
  const long seen = ++requests[static_cast<size_t>(target)];
  ++requests[static_cast<size_t>(FaultTarget::Any)];
  faultHits.resize(scenario.faults.size(), 0);
  faultInScope.resize(scenario.faults.size(), 0);
  faultStartUs.resize(scenario.faults.size(), -1);

  bool badChecksum = false;
  bool garbage = false;
  Outgoing out;
  for (size_t i = 0; i < scenario.faults.size(); ++i) {
    const Fault& fault = scenario.faults[i];
    if (!inScope(fault, target, command)) continue;
    const long inScopeSeen = ++faultInScope[i];
    if (seen <= fault.afterRequests) continue;
    // "nth=N": from the N-th request of this target and command on, one hit unless a count says more.
    if (fault.nth > 0 && inScopeSeen < fault.nth) continue;
    const long limit = fault.count >= 0 ? fault.count : fault.nth > 0 ? 1 : -1;
    if (limit >= 0 && faultHits[i] >= limit) continue;
    if (fault.kind == FaultKind::Disconnect) {
      // A disconnect tied to requests strikes when the request count is reached.
      if (fault.atMs < 0 && faultStartUs[i] < 0) {
        faultStartUs[i] = simUs;
        ++faultHits[i];
        return std::nullopt;
      }
      continue;
    }
    if (fault.probability < 1.0 && random.unit() >= fault.probability) continue;
    ++faultHits[i];
    switch (fault.kind) {
      case FaultKind::Silent:
        return std::nullopt;
      case FaultKind::ErrorCode: {
        const size_t sep = answer->find(';');
        const int address = sep == std::string::npos ? 0 : std::atoi(answer->substr(0, sep).c_str());
        answer = errorBody(address, fault.code);
        break;
      }
      case FaultKind::Late:
        out.extraDelayMs += fault.delayMs;
        break;
      case FaultKind::BadChecksum:
        badChecksum = true;
        break;
      case FaultKind::Garbage:
        garbage = true;
        break;
      case FaultKind::Disconnect:
        break;
    }
  }

  if (garbage) {
    const size_t n = 4 + static_cast<size_t>(random.next() % 24);
    for (size_t i = 0; i < n; ++i) out.bytes.push_back(static_cast<uint8_t>(random.next()));
    return out;
  }
  out.bytes = uail::answerFrame(*answer);
  if (badChecksum && out.bytes.size() >= 2) {
    uint8_t& digit = out.bytes[out.bytes.size() - 2];  // last checksum digit, before CR
    digit = static_cast<uint8_t>('0' + (digit - '0' + 1) % 10);
  }
  return out;
}

bool Engine::Impl::wholeBenchSilent() const {
  const long seen = requests[static_cast<size_t>(FaultTarget::Any)];
  for (size_t i = 0; i < scenario.faults.size(); ++i) {
    const Fault& fault = scenario.faults[i];
    if (fault.kind != FaultKind::Silent || fault.target != FaultTarget::Any || fault.command >= 0 ||
        fault.nth > 0 || fault.probability < 1.0 || seen < fault.afterRequests)
      continue;
    if (fault.count >= 0 && i < faultHits.size() && faultHits[i] >= fault.count) continue;
    return true;
  }
  return false;
}

bool Engine::Impl::faultDisconnected() const {
  const double nowMs = static_cast<double>(simUs) / 1000.0;
  for (size_t i = 0; i < scenario.faults.size(); ++i) {
    const Fault& fault = scenario.faults[i];
    if (fault.kind != FaultKind::Disconnect) continue;
    double startMs = fault.atMs;
    if (startMs < 0) {
      if (i >= faultStartUs.size() || faultStartUs[i] < 0) continue;
      startMs = static_cast<double>(faultStartUs[i]) / 1000.0;
    }
    if (nowMs >= startMs && (fault.durationMs < 0 || nowMs < startMs + fault.durationMs)) return true;
  }
  return false;
}

}  // namespace quarnsim
