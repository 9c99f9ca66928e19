// The headless host's side of the library: binding, the timer loop on the library's descriptor,
// starting tasks and waiting for what the notifications report.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "quarn/library_binding.h"

namespace cli {

// Exit statuses of quarn-cli.
enum Exit { kOk = 0, kFailure = 1, kNoCalibrator = 2 };

class Host {
 public:
  // Called for every notification, with the record as the library left it.
  using Listener = std::function<void(const TDev&)>;

  Host() = default;
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Binds to libquarn (beside the program, then the search path, then `libraryPath`).
  // Returns the binding's result; `error` receives the message.
  int bind(uint32_t model, const std::string& libraryPath, std::string& error);
  void unbind();

  TDev& dev() { return *lib_.dev; }
  quarn::host::Library& library() { return lib_; }

  int32_t setTask(uint32_t task, void* arg = nullptr) { return lib_.SetTask(task, arg); }

  // Runs the library's timer until `done` returns true (checked after every timer call and every
  // notification) or `timeoutMs` have passed (of real time, or of virtual time after
  // useVirtualTime). Returns true when `done` held.
  bool runUntil(const std::function<bool()>& done, uint32_t timeoutMs);

  // From now on the library runs on a virtual clock that this host moves: runUntil calls the
  // library's timer procedure every 20 ms of virtual time without waiting, and the library's sleeps
  // advance the clock at once. The clock starts at the library's current tick. False with `error`
  // when the library lacks what that needs.
  bool useVirtualTime(std::string& error);
  bool virtualTime() const { return virtual_; }
  // The library's tick: the virtual clock's, else the system's.
  uint32_t nowMs() const;

  void setListener(Listener l) { listener_ = std::move(l); }
  // Stops runUntil at the next chance (e.g. from a signal).
  static void requestStop();
  static bool stopRequested();
  // Takes a stop request back, so that a command can still finish what must not be left half done
  // (a calibration takes its devices out of fixed-current mode); another signal stops that too.
  static void clearStop();

  // Port number for a device path: an already mapped number or a newly registered one.
  uint32_t portForPath(const std::string& path);

 private:
  static void onUpdate();
  static uint32_t virtualNow(void* ctx);
  static void virtualSleep(void* ctx, uint32_t ms);
  // One timer period of virtual time: the clock moves to the next point of the 20 ms grid (or stays
  // where a sleep has taken it beyond that), then the library's timer procedure runs with that tick.
  void virtualTick();

  quarn::host::Library lib_;
  Listener listener_;
  bool virtual_ = false;
  uint32_t virtualNow_ = 0;
  uint32_t lastTick_ = 0;
  void (*timerProc_)(void*, uint32_t, uintptr_t, uint32_t) = nullptr;
  const uint32_t* timerId_ = nullptr;
  void (*setClock_)(const quarn_clock*) = nullptr;
};

}  // namespace cli
