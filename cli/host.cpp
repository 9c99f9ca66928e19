#include "host.h"

#include <poll.h>
#include <time.h>

#include <atomic>
#include <cstdio>

namespace cli {

namespace {
Host* g_host = nullptr;
std::atomic<bool> g_stop{false};

uint64_t monotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}
}  // namespace

Host::~Host() { unbind(); }

int Host::bind(uint32_t model, const std::string& libraryPath, std::string& error) {
  g_host = this;
  const auto res =
      quarn::host::bind(lib_, quarn::host::defaultCandidates(libraryPath), &Host::onUpdate, model);
  error = res.message;
  if (res.code == 0 && (!lib_.timerFd || !lib_.timerDispatch)) {
    error = "the library has no timer descriptor (quarn_timer_fd)";
    quarn::host::unbind(lib_);
    return -5;
  }
  return res.code;
}

void Host::unbind() {
  // The library's unload still runs on the virtual clock (its shut-down exchange waits on it).
  if (lib_.handle) quarn::host::unbind(lib_);
  if (g_host == this) g_host = nullptr;
  virtual_ = false;
  setClock_ = nullptr;
}

bool Host::useVirtualTime(std::string& error) {
  auto* now = lib_.symbol<uint32_t (*)()>("quarn_now_ms");
  setClock_ = lib_.symbol<void (*)(const quarn_clock*)>("quarn_set_clock");
  timerProc_ = lib_.symbol<void (*)(void*, uint32_t, uintptr_t, uint32_t)>("TimerProc");
  timerId_ = lib_.symbol<const uint32_t*>("TimerID");
  if (!now || !setClock_ || !timerProc_ || !timerId_) {
    error = "the library cannot run on a virtual clock (quarn_set_clock, TimerProc)";
    return false;
  }
  virtualNow_ = now();
  lastTick_ = virtualNow_;
  const quarn_clock clock{this, &Host::virtualNow, &Host::virtualSleep};
  setClock_(&clock);
  virtual_ = true;
  return true;
}

uint32_t Host::virtualNow(void* ctx) { return static_cast<Host*>(ctx)->virtualNow_; }

void Host::virtualSleep(void* ctx, uint32_t ms) { static_cast<Host*>(ctx)->virtualNow_ += ms; }

uint32_t Host::nowMs() const {
  if (virtual_) return virtualNow_;
  return static_cast<uint32_t>(monotonicMs());
}

void Host::virtualTick() {
  constexpr uint32_t kPeriodMs = 20;
  uint32_t target = lastTick_ + kPeriodMs;
  if (static_cast<int32_t>(virtualNow_ - target) >= 0) target = virtualNow_;
  virtualNow_ = target;
  lastTick_ = target;
  timerProc_(nullptr, 0, *timerId_, target);
}

void Host::onUpdate() {
  if (g_host && g_host->listener_ && g_host->lib_.dev) g_host->listener_(*g_host->lib_.dev);
}

void Host::requestStop() { g_stop = true; }
bool Host::stopRequested() { return g_stop; }
void Host::clearStop() { g_stop = false; }

bool Host::runUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
  if (virtual_) {
    // Counted in 64 bits: a timeout may be longer than half the 32-bit tick's range.
    uint64_t spent = 0;
    while (!g_stop) {
      if (done()) return true;
      if (spent >= timeoutMs) return false;
      const uint32_t before = virtualNow_;
      virtualTick();
      spent += static_cast<uint32_t>(virtualNow_ - before);
    }
    return done();
  }
  const uint64_t end = monotonicMs() + timeoutMs;
  const int fd = lib_.timerFd();
  while (!g_stop) {
    if (done()) return true;
    const uint64_t now = monotonicMs();
    if (now >= end) return false;
    // The library's timer descriptor becomes readable when the next step is due, not every period;
    // in between the host sleeps. The cap only bounds how late a stop request that arrives right
    // before the wait is seen (the signal may come before poll could return early for it).
    pollfd p{fd, POLLIN, 0};
    const int wait = static_cast<int>(std::min<uint64_t>(end - now, 1000));
    const int r = poll(&p, 1, wait);
    if (r > 0 && (p.revents & POLLIN)) lib_.timerDispatch();
  }
  return done();
}

uint32_t Host::portForPath(const std::string& path) {
  if (lib_.portNumber) {
    if (const uint32_t n = lib_.portNumber(path.c_str())) return n;
  }
  if (!lib_.portRegisterPath || !lib_.portPath) return 0;
  for (uint32_t n = QUARN_PORT_MAX; n >= 1; --n) {
    const char* p = lib_.portPath(n);
    if (!p || !*p) return lib_.portRegisterPath(n, path.c_str()) == 0 ? n : 0;
  }
  return 0;
}

}  // namespace cli
