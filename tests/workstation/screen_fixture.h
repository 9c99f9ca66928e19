// A screen driven from a record the test prepares, without a library: a zeroed record (unit factors
// 1, kPa), a context that records the tasks the screen starts and owns its own dialogs. Give the
// screen this context, set record fields, call notify(screen, event) and look at the controls.
#pragma once

#include <QApplication>
#include <cstring>
#include <memory>
#include <vector>

#include "Screen.h"
#include "TDev.h"
#include "WorkstationContext.h"

namespace armtest {

struct StartedTask {
  uint32_t task;
  void* argument;
};

struct ScreenBench {
  explicit ScreenBench(uint32_t model = 1) : record(std::make_unique<TDev>()) {
    std::memset(record.get(), 0, sizeof(TDev));
    record->model = model;
    record->settings.unitFactor = 1;
    record->settings.unitFactorInv = 1;
    context.bindRecord(record.get());
    context.setModel(model);
    context.setTaskStarter([this](uint32_t task, void* argument) {
      tasks.push_back({task, argument});
      return 0;
    });
  }

  TDev& dev() { return *record; }

  // One notification with `event`, as the library makes it: the screen refreshes (and reacts to the
  // event), the snapshot is taken, the event goes back to 0.
  void notify(arm::Screen& screen, uint32_t event) {
    record->event = event;
    screen.notify(*record);
    context.takeSnapshot();
    record->event = 0;
  }

  std::vector<uint32_t> taskNumbers() const {
    std::vector<uint32_t> n;
    for (const StartedTask& t : tasks) n.push_back(t.task);
    return n;
  }

  std::unique_ptr<TDev> record;
  arm::WorkstationContext context;
  std::vector<StartedTask> tasks;
};

}  // namespace armtest
