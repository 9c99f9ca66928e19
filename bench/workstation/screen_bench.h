// What the workstation's benchmarks share: the window thread's CPU time, the median and 95th
// percentile of per-operation times as benchmark counters, and a main that runs the cases inside a
// QApplication on the offscreen platform.
#pragma once

#include <benchmark/benchmark.h>

#include <QApplication>
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace screenbench {

// The calling thread's CPU time, in microseconds: on a machine shared with other work the wall time
// of an operation also counts the time other processes had the processor.
inline double threadCpuUs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// Adds the median and the 95th percentile of `us` to the report under the two names.
inline void reportPercentiles(benchmark::State& state, std::vector<double> us, const char* median,
                              const char* p95) {
  if (us.empty()) return;
  std::sort(us.begin(), us.end());
  state.counters[median] = us[us.size() / 2];
  state.counters[p95] = us[std::min(us.size() - 1, us.size() * 95 / 100)];
}

// The wall and CPU times of single operations: median_us, p95_us, cpu_median_us, cpu_p95_us.
struct Times {
  std::vector<double> wall;
  std::vector<double> cpu;
  void add(double wallUs, double cpuUs) {
    wall.push_back(wallUs);
    cpu.push_back(cpuUs);
  }
  void report(benchmark::State& state) const {
    reportPercentiles(state, wall, "median_us", "p95_us");
    reportPercentiles(state, cpu, "cpu_median_us", "cpu_p95_us");
  }
};

inline int runInQApplication(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace screenbench
