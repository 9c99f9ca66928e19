// Start-up and shut-down of the library: when it is loaded and unloaded, and on a host's request.
#include "core/quarn_core.h"
#include "core/registry.h"

namespace {

constexpr uint32_t kTimerPeriodMs = 20;

// Set by ExitDll, cleared by InitDll: the unload then has nothing left to shut down.
bool g_shutDown = false;

}  // namespace

extern "C" {

QUARN_API int32_t InitDll(void) {
  std_out("InitDll()");
  // SetTimerProc leaves a running timer as it is, so a second start-up keeps one timer.
  SetTimerProc(kTimerPeriodMs);
  InitDev();
  g_shutDown = false;
  return 0;
}

QUARN_API int32_t ExitDll(void) {
  // No more callbacks into a host that is going away.
  Dev.onUpdate = nullptr;
  if (TimerID != 0) KillTimerProc();
  // Calibrator back to local operation, port released.
  quarn::core::shutDownAreas();
  g_shutDown = true;
  return 0;
}

}  // extern "C"

namespace quarn::core {

void libraryLoaded(std::span<const Area* const> areas) {
  for (const Area* area : areas)
    if (area) registerArea(*area);
  InitDll();
}

void libraryUnloading() {
  if (!g_shutDown) ExitDll();
}

}  // namespace quarn::core
