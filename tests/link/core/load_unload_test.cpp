// Loading and unloading the library (libquarn.so, quarn.dll) as a host does: the record is ready and
// the timer runs right after loading, and unloading with a silent calibrator takes it out of remote
// operation without calling back into the host.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "../serial/fake_vport.h"
#include "TDev.h"
#include "quarn_host.h"
#include "serial/serial_port.h"
#include "test_paths.h"

namespace {

struct CountingClock {
  uint32_t now = 5000;
  uint64_t slept = 0;
  static uint32_t nowMs(void* ctx) { return static_cast<CountingClock*>(ctx)->now; }
  static void sleepMs(void* ctx, uint32_t ms) {
    auto* self = static_cast<CountingClock*>(ctx);
    self->now += ms;
    self->slept += ms;
  }
};

constexpr uint32_t kCalibratorPort = 17;

int g_callbacks = 0;
void onUpdate() { ++g_callbacks; }

#ifdef _WIN32
using Library = HMODULE;
Library load() { return LoadLibraryA(quarn::test::path("QUARN_LIBRARY").c_str()); }
std::string loadError() { return "LoadLibrary error " + std::to_string(GetLastError()); }
void* lookup(Library lib, const char* name) { return reinterpret_cast<void*>(GetProcAddress(lib, name)); }
bool unload(Library lib) { return FreeLibrary(lib) != 0; }
#else
using Library = void*;
Library load() { return dlopen(quarn::test::path("QUARN_LIBRARY").c_str(), RTLD_NOW | RTLD_LOCAL); }
std::string loadError() { return dlerror(); }
void* lookup(Library lib, const char* name) { return dlsym(lib, name); }
bool unload(Library lib) { return dlclose(lib) == 0; }
#endif

template <typename T>
T symbol(Library lib, const char* name) {
  void* address = lookup(lib, name);
  EXPECT_NE(address, nullptr) << name;
  return reinterpret_cast<T>(address);
}

TEST(LoadUnload, TheLoadedLibraryIsReadyAndUnloadsTakingASilentCalibratorOutOfRemoteOperation) {
  const Library lib = load();
  ASSERT_NE(lib, nullptr) << loadError();

  auto* dev = symbol<TDev*>(lib, "Dev");
  auto* timerId = symbol<uint32_t*>(lib, "TimerID");
  auto* onTimer = symbol<TStepFn*>(lib, "OnTimer");
  auto setTask = symbol<int32_t(QUARN_STDCALL*)(uint32_t, void*)>(lib, "SetTask");
  auto setClock = symbol<void (*)(const quarn_clock*)>(lib, "quarn_set_clock");
  auto timerFd = symbol<int (*)(void)>(lib, "quarn_timer_fd");
  auto registerVirtual =
      symbol<int (*)(uint32_t, const quarn_vport_ops*)>(lib, "quarn_port_register_virtual");
  auto openPort = symbol<uint32_t (*)(int32_t, uint32_t, int32_t)>(lib, "OpenPortAsync");
  auto* calibratorPort = symbol<TRS*>(lib, "rs");
  ASSERT_TRUE(dev && timerId && onTimer && setTask && setClock && timerFd && registerVirtual && openPort &&
              calibratorPort);

  EXPECT_EQ(dev->size, QUARN_TDEV_SIZE);
  EXPECT_STREQ(dev->signature, "TDev");
  EXPECT_TRUE(std::isnan(dev->pRef));
  EXPECT_NE(*timerId, 0u);  // the 20 ms timer runs from load on
  EXPECT_GE(timerFd(), 0);
  EXPECT_EQ(*onTimer, nullptr);  // nothing runs until the host starts a task

  CountingClock counting;
  const quarn_clock clock{&counting, CountingClock::nowMs, CountingClock::sleepMs};
  setClock(&clock);
  TDev* record = nullptr;
  EXPECT_EQ(setTask(TASK_GET_RECORD, &record), 0);
  EXPECT_EQ(record, dev);
  EXPECT_EQ(counting.slept, 200u);

  // The calibrator's port, on which nothing answers.
  quarn::test::FakePeer peer;
  const quarn_vport_ops ops = peer.ops();
  ASSERT_EQ(registerVirtual(kCalibratorPort, &ops), 0);
  calibratorPort->hCom = openPort(kCalibratorPort, 9600, 0);
  ASSERT_EQ(peer.opens, 1);

  dev->onUpdate = onUpdate;
  g_callbacks = 0;
  counting.slept = 0;
  EXPECT_TRUE(unload(lib));
  EXPECT_EQ(g_callbacks, 0);
  // Remote operation off to the main unit four times, with 1.5 s of waiting in all; the port closed.
  const std::string request = "\xFF:1;8;0;33224\r";
  EXPECT_EQ(peer.received, request + request + request + request);
  EXPECT_GE(counting.slept, 1500u);
  EXPECT_LE(counting.slept, 1600u);
  EXPECT_EQ(peer.closes, 1);
  RecordProperty("unload_wait_ms", static_cast<int>(counting.slept));
}

}  // namespace
