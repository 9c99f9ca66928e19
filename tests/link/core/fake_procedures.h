// Stand-ins for the procedures and link hooks the core calls, for the core's own tests: each records
// its call and runs an action a test may install. The stand-in hooks and the areas' procedure tables
// are registered with the core before the tests run.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "TDev.h"

namespace fakes {

// Result every stand-in step returns when it has no action.
constexpr int32_t kStepResult = 0x5E7;

inline std::vector<std::string> calls;
inline std::map<std::string, std::function<int32_t()>> actions;
inline int purges = 0;
inline int startups = 0;
inline int shutdowns = 0;
inline int relayInits = 0;
// Readiness time the record held when InitRelay ran.
inline int32_t relayInitSawReadyTime = -1;
// Dev.uailPtr the start-up hook stores.
inline int uailRecord = 0;

inline void reset() {
  calls.clear();
  actions.clear();
  purges = startups = shutdowns = relayInits = 0;
  relayInitSawReadyTime = -1;
}

// True when the stand-ins and the areas' tables were registered.
bool areasRegistered();

inline int32_t record(const char* name) {
  calls.emplace_back(name);
  const auto action = actions.find(name);
  return action != actions.end() ? action->second() : kStepResult;
}

inline int count(const std::string& name) {
  int n = 0;
  for (const auto& call : calls) n += call == name;
  return n;
}

}  // namespace fakes
