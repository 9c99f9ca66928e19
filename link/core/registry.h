// How the areas of the library hand their procedures to the core.
//
// The core owns the mechanism only: the scheduler, the continuation slots, SetTask's dispatch by
// table and the Begin_ entry points' common body. It does not know any procedure by name. Each area
// (calibrator procedures, HART procedures, the UAIL link) describes its procedures in one table, one
// row per procedure, together with the hooks it needs at start-up, shut-down and task start, and the
// library registers the areas before it starts (link/library.cpp). A core without any area runs too:
// its tasks then only reset the record, and every slot ends in Meas.
//
// Everything here runs in the host's window thread. The registry is plain static storage: the
// library's destructor may still run the shut-down hooks after C++ static objects are gone.
#pragma once

#include <cstdint>
#include <span>

#include "core/quarn_core.h"

namespace quarn::core {

// Most procedures end in Meas whichever way they end.
inline constexpr TRetPair kEndInMeas{Meas, Meas};

// One procedure of an area.
struct Procedure {
  int slot;                    // its continuation slot (RET_*)
  TStepFn first;               // its first step
  TRetPair atStart;            // the pair its slot holds from start-up (Init_ReturnFns)
  uint32_t tasks[2] = {0, 0};  // the SetTask numbers that start it; 0 = none
  TRetPair forTasks = {};      // the pair those tasks write into the slot
};

// What an area hands the core. Any hook may be null.
struct Area {
  const char* name;
  std::span<const Procedure> procedures;
  // End of InitDev, in the order the areas were registered: the area's own initial state.
  void (*start)(void) = nullptr;
  // ExitDll, after the timer has stopped. It may run at process exit after C++ static objects have
  // been destroyed: plain state only, and no waiting except through quarn_sleep_ms.
  void (*shutdown)(void) = nullptr;
  // SetTask, after its pause: drop whatever the abandoned procedure was still waiting for.
  void (*purge)(void) = nullptr;
};

// Registers an area (again: no change). False, and nothing of the area registered, when the area
// claims a slot or a task another area has, a slot outside the table or a task number SetTask keeps
// for itself, or when the registry is full.
bool registerArea(const Area& area);

// The first step registered for a slot; null when no area has it.
TStepFn firstStep(int slot);
// The procedure SetTask starts for a task number; null for a task no area has.
const Procedure* procedureOfTask(uint32_t task);
// The pair a slot holds from start-up: its procedure's, or Meas both ways for a slot no area has.
TRetPair initialPair(int slot);

// The common body of the Begin_ entry points: stores (ok, err) into the slot and schedules the slot's
// first step for the next timer call. A slot without a registered procedure schedules nothing (what
// was pending stays pending). The result means nothing.
int32_t begin(int slot, TStepFn ok, TStepFn err);

// The hooks of every registered area, in registration order.
void startAreas();
void shutDownAreas();
void purgeAreas();

// The shared library's constructor and destructor: register the areas and start up (InitDll); shut
// down (ExitDll) unless the host already has.
void libraryLoaded(std::span<const Area* const> areas);
void libraryUnloading();

}  // namespace quarn::core
