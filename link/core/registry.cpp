// The registered areas and the lookups the dispatch, the continuation table and the Begin_ entry
// points make in them.
#include "core/registry.h"

#include "core/quarn_core.h"

namespace quarn::core {
namespace {

// Enough for the library's areas and a test's stand-ins.
constexpr int kMaxAreas = 8;
// Task numbers a procedure may claim: above SetTask's own (0-2) and below the timer's (22, 23) and
// anything past them, which SetTask answers without doing anything.
constexpr uint32_t kFirstProcedureTask = TASK_CONNECT;
constexpr uint32_t kLastProcedureTask = TASK_CHECK;

// Plain static storage (see registry.h).
const Area* g_areas[kMaxAreas];
int g_areaCount = 0;
TStepFn g_first[RET_COUNT];
const Procedure* g_slotOwner[RET_COUNT];
const Procedure* g_taskOwner[kLastProcedureTask + 1];

bool validSlot(int slot) { return slot >= 0 && slot < RET_COUNT; }

bool claimableTask(uint32_t task) { return task >= kFirstProcedureTask && task <= kLastProcedureTask; }

// True when every slot and task of the area is free and claimable.
bool fits(const Area& area) {
  bool slotSeen[RET_COUNT] = {};
  bool taskSeen[kLastProcedureTask + 1] = {};
  for (const Procedure& p : area.procedures) {
    if (!validSlot(p.slot) || g_slotOwner[p.slot] || slotSeen[p.slot]) return false;
    slotSeen[p.slot] = true;
    for (int k = 0; k < 2; ++k) {
      const uint32_t task = p.tasks[k];
      if (task == 0 || (k == 1 && task == p.tasks[0])) continue;
      if (!claimableTask(task) || g_taskOwner[task] || taskSeen[task]) return false;
      taskSeen[task] = true;
    }
  }
  return true;
}

}  // namespace

bool registerArea(const Area& area) {
  for (int i = 0; i < g_areaCount; ++i)
    if (g_areas[i] == &area) return true;
  if (g_areaCount == kMaxAreas || !fits(area)) return false;
  g_areas[g_areaCount++] = &area;
  for (const Procedure& p : area.procedures) {
    g_slotOwner[p.slot] = &p;
    g_first[p.slot] = p.first;
    for (const uint32_t task : p.tasks)
      if (task != 0) g_taskOwner[task] = &p;
  }
  return true;
}

TStepFn firstStep(int slot) { return validSlot(slot) ? g_first[slot] : nullptr; }

const Procedure* procedureOfTask(uint32_t task) { return claimableTask(task) ? g_taskOwner[task] : nullptr; }

TRetPair initialPair(int slot) {
  const Procedure* p = validSlot(slot) ? g_slotOwner[slot] : nullptr;
  return p ? p->atStart : kEndInMeas;
}

void startAreas() {
  for (int i = 0; i < g_areaCount; ++i)
    if (g_areas[i]->start) g_areas[i]->start();
}

void shutDownAreas() {
  for (int i = 0; i < g_areaCount; ++i)
    if (g_areas[i]->shutdown) g_areas[i]->shutdown();
}

void purgeAreas() {
  for (int i = 0; i < g_areaCount; ++i)
    if (g_areas[i]->purge) g_areas[i]->purge();
}

}  // namespace quarn::core
