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
  // notification) or `timeoutMs` of real time have passed. Returns true when `done` held.
  bool runUntil(const std::function<bool()>& done, uint32_t timeoutMs);

  void setListener(Listener l) { listener_ = std::move(l); }
  // Stops runUntil at the next chance (e.g. from a signal).
  static void requestStop();
  static bool stopRequested();

  // Port number for a device path: an already mapped number or a newly registered one.
  uint32_t portForPath(const std::string& path);

 private:
  static void onUpdate();
  quarn::host::Library lib_;
  Listener listener_;
};

}  // namespace cli
