// CPU time of one measuring cycle inside the library. The calibrator, its Kesto module and the
// pressure system are the in-process simulator on a virtual port; time is virtual, so a cycle of
// about 740 ms of device time costs only the processing. The simulator's own work is timed
// separately (around every port call) and subtracted, leaving what the library itself spends.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdint>

#include "calibrator/calibrator.h"
#include "quarn_core.h"
#include "quarnsim/engine.h"
#include "serial/serial_port.h"
#include "sim_vport.h"
#include "virtual_timer_clock.h"

namespace {

uint64_t threadCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

using quarn::test::VirtualClock;

// The simulator's port calls, timed so their cost can be taken out.
struct TimedSimPort {
  quarn_vport_ops inner;
  uint64_t simNs = 0;

  template <typename F>
  auto timed(F f) {
    const uint64_t t0 = threadCpuNs();
    auto r = f();
    simNs += threadCpuNs() - t0;
    return r;
  }
  quarn_vport_ops ops() {
    quarn_vport_ops o{};
    o.ctx = this;
    o.open = [](void* c) {
      auto* s = static_cast<TimedSimPort*>(c);
      return s->timed([&] { return s->inner.open(s->inner.ctx); });
    };
    o.close = [](void* c) {
      auto* s = static_cast<TimedSimPort*>(c);
      s->inner.close(s->inner.ctx);
    };
    o.set_line = [](void* c, uint32_t b, int p, int st) {
      auto* s = static_cast<TimedSimPort*>(c);
      s->inner.set_line(s->inner.ctx, b, p, st);
    };
    o.write = [](void* c, const uint8_t* d, uint32_t n, uint32_t now) {
      auto* s = static_cast<TimedSimPort*>(c);
      return s->timed([&] { return s->inner.write(s->inner.ctx, d, n, now); });
    };
    o.available = [](void* c, uint32_t now) {
      auto* s = static_cast<TimedSimPort*>(c);
      return s->timed([&] { return s->inner.available(s->inner.ctx, now); });
    };
    o.read = [](void* c, uint8_t* b, uint32_t m, uint32_t now) {
      auto* s = static_cast<TimedSimPort*>(c);
      return s->timed([&] { return s->inner.read(s->inner.ctx, b, m, now); });
    };
    o.purge = [](void* c) {
      auto* s = static_cast<TimedSimPort*>(c);
      s->inner.purge(s->inner.ctx);
    };
    return o;
  }
};

int g_measurements = 0;
void onUpdate() {
  if (Dev.event == 2) ++g_measurements;
}

void runMeasuringCycles(benchmark::State& state, quarnsim::Model model) {
  VirtualClock clock;
  InitDev();
  quarnsim::Scenario scenario;
  scenario.model = model;
  quarnsim::Engine bench(scenario);
  TimedSimPort port{quarn::test::simVportOps(bench.calibratorPort())};
  const quarn_vport_ops ops = port.ops();
  quarn_port_register_virtual(5, &ops);

  Dev.onUpdate = onUpdate;
  Dev.model = model == quarnsim::Model::Quarn ? 1 : 0;
  Dev.portNo = 5;
  Dev.cycleStat.window = 200;
  SetTask(TASK_CONNECT, nullptr);
  while (!(Dev.linked == 1 && g_measurements >= 3)) clock.tick();

  uint64_t libNs = 0;
  uint64_t cycles = 0;
  for (auto _ : state) {
    const int target = g_measurements + 1;
    port.simNs = 0;
    const uint64_t t0 = threadCpuNs();
    while (g_measurements < target) clock.tick();
    libNs += threadCpuNs() - t0 - port.simNs;
    ++cycles;
  }
  state.counters["lib_cpu_us_per_cycle"] = static_cast<double>(libNs) / 1000.0 / static_cast<double>(cycles);
  state.counters["cycle_ms_virtual"] = Dev.cycleStat.mean;
  state.counters["linked"] = Dev.linked;

  OnTimer = nullptr;
  Dev.onUpdate = nullptr;
  ClosePorts(-1);
  quarn_port_unregister(5);
  quarn_set_clock(nullptr);
}

void BM_QuarnMeasuringCycle(benchmark::State& state) { runMeasuringCycles(state, quarnsim::Model::Quarn); }
void BM_BrenkMeasuringCycle(benchmark::State& state) { runMeasuringCycles(state, quarnsim::Model::Brenk); }

BENCHMARK(BM_QuarnMeasuringCycle)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BrenkMeasuringCycle)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // Shut down while the virtual clock still stands, so the unload exchange costs no real time.
  VirtualClock clock;
  ExitDll();
  quarn_set_clock(nullptr);
  return 0;
}
