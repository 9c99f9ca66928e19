// Binding a host (the workstation, the headless host, the Windows test host) to the library
// (libquarn.so, on Windows quarn.dll): load the library by file name,
// look up SetTask, get the shared record with task 2, check its size and signature, install the
// notification callback and select the calibrator model. Also looks up the host additions
// (timer descriptor, port map) the hosts need.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TDev.h"
#include "quarn_host.h"

namespace quarn::host {

struct Library {
  void* handle = nullptr;
  int32_t(QUARN_STDCALL* SetTask)(uint32_t task, void* arg) = nullptr;
  TDev* dev = nullptr;
  std::string path;  // file the library was loaded from

  // Host additions; null when the library lacks them.
  int (*timerFd)() = nullptr;
  int (*timerDispatch)() = nullptr;
  int (*portRegisterPath)(uint32_t, const char*) = nullptr;
  void (*portUnregister)(uint32_t) = nullptr;
  int (*portRescan)() = nullptr;
  const char* (*portPath)(uint32_t) = nullptr;
  uint32_t (*portNumber)(const char*) = nullptr;
  void (*setLog)(quarn_log_fn) = nullptr;

  // The address of an exported name of the loaded library; null when it has none or nothing is loaded.
  void* lookup(const char* name) const;
  template <typename Fn>
  Fn symbol(const char* name) const {
    return reinterpret_cast<Fn>(lookup(name));
  }
};

struct BindResult {
  int code = 0;         // 0 bound, -1 not loaded, -2 no SetTask, -3 size, -4 signature
  std::string message;  // the operator's message for a failure (UTF-8)
};

// Folder of the running program (with a trailing slash), "" when unknown.
std::string programFolder();

// Where the library is looked for: beside the program, then the system's search path, then a
// configured path (settings file, command line) when one is given.
std::vector<std::string> defaultCandidates(const std::string& configured = {});

// Binds to the first candidate that loads. On failure the library is released again.
BindResult bind(Library& lib, const std::vector<std::string>& candidates, TUpdateFn callback, uint32_t model);

// Frees the library (its unload switches the calibrator back to local operation). 0 freed,
// -1 nothing loaded, -2 the system refused.
int unbind(Library& lib);

}  // namespace quarn::host
