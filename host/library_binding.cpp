#include "quarn/library_binding.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <cstring>

#include "quarn/cp1251.h"

namespace quarn::host {

namespace {

#ifdef _WIN32
constexpr const char* kLibraryFile = "quarn.dll";
constexpr char kFolderSeparator = '\\';

void* openLibrary(const std::string& file) { return LoadLibraryA(file.c_str()); }
void* findSymbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
bool closeLibrary(void* handle) { return FreeLibrary(static_cast<HMODULE>(handle)) != 0; }
std::string executablePath() {
  char buf[4096];
  const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}
#else
constexpr const char* kLibraryFile = "libquarn.so";
constexpr char kFolderSeparator = '/';

void* openLibrary(const std::string& file) { return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL); }
void* findSymbol(void* handle, const char* name) { return dlsym(handle, name); }
bool closeLibrary(void* handle) { return dlclose(handle) == 0; }
std::string executablePath() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}
#endif

}  // namespace

void* Library::lookup(const char* name) const { return handle ? findSymbol(handle, name) : nullptr; }

std::string programFolder() {
  const std::string p = executablePath();
  const auto slash = p.rfind(kFolderSeparator);
  return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

std::vector<std::string> defaultCandidates(const std::string& configured) {
  std::vector<std::string> c;
  const std::string folder = programFolder();
  if (!folder.empty()) c.push_back(folder + kLibraryFile);
  c.push_back(kLibraryFile);
  if (!configured.empty()) c.push_back(configured);
  return c;
}

BindResult bind(Library& lib, const std::vector<std::string>& candidates, TUpdateFn callback,
                uint32_t model) {
  for (const auto& file : candidates) {
    lib.handle = openLibrary(file);
    if (lib.handle) {
      lib.path = file;
      break;
    }
  }
  if (!lib.handle) return {-1, "Error load library !"};

  using SetTaskFn = int32_t(QUARN_STDCALL*)(uint32_t, void*);
  lib.SetTask = lib.symbol<SetTaskFn>("SetTask");
  if (!lib.SetTask) lib.SetTask = lib.symbol<SetTaskFn>("SetTask@8");
  if (!lib.SetTask) {
    closeLibrary(lib.handle);
    lib = Library{};
    return {-2, "Function SetTask not found !"};
  }

  lib.dev = nullptr;
  lib.SetTask(TASK_GET_RECORD, &lib.dev);
  if (!lib.dev || lib.dev->size != QUARN_TDEV_SIZE) {
    lib.dev = nullptr;
    closeLibrary(lib.handle);
    lib = Library{};
    return {-3, "Size of struct TDev incorrect !"};
  }
  const char* sig = lib.dev->signature;
  if (!sig || std::strcmp(sig, QUARN_TDEV_SIGNATURE) != 0) {
    // The text found is shown between the parentheses; bound its length in case it is garbage.
    std::string found = sig ? std::string(sig, strnlen(sig, 64)) : std::string();
    lib.dev = nullptr;
    closeLibrary(lib.handle);
    lib = Library{};
    return {-4, "Singature of struct TDev incorrect !  (" + text::cp1251ToUtf8(found) + ")"};
  }

  lib.timerFd = lib.symbol<int (*)()>("quarn_timer_fd");
  lib.timerDispatch = lib.symbol<int (*)()>("quarn_timer_dispatch");
  lib.portRegisterPath = lib.symbol<int (*)(uint32_t, const char*)>("quarn_port_register_path");
  lib.portUnregister = lib.symbol<void (*)(uint32_t)>("quarn_port_unregister");
  lib.portRescan = lib.symbol<int (*)()>("quarn_port_rescan");
  lib.portPath = lib.symbol<const char* (*)(uint32_t)>("quarn_port_path");
  lib.portNumber = lib.symbol<uint32_t (*)(const char*)>("quarn_port_number");
  lib.setLog = lib.symbol<void (*)(quarn_log_fn)>("quarn_set_log");

  lib.dev->onUpdate = callback;
  lib.dev->model = model;
  return {0, {}};
}

int unbind(Library& lib) {
  if (!lib.handle) return -1;
  if (lib.dev) lib.dev->onUpdate = nullptr;
  lib.dev = nullptr;
  if (!closeLibrary(lib.handle)) return -2;
  lib = Library{};
  return 0;
}

}  // namespace quarn::host
