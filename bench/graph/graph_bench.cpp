// The graph screen holding one hour of samples (3600 points in each of the 13 series), on the
// offscreen platform at the size it has in the main window. Each case times every single operation
// and reports the median and 95th percentile of its wall and CPU time next to the mean:
//   SampleAndRedraw   one sampling (Timer1) and the synchronous repaint of the chart that follows,
//                     with the five pressure curves shown: what the window thread spends once a second;
//   Notification      the graph's part of the refresh at a library notification (event 2, with the
//                     main window's no-Kesto call), which runs every measuring cycle;
//   SwitchQuantity    "Ток" / "Давление" clicked: four or five curves drawn anew from the samples;
//   Table             the saved table of the hour, as bytes.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QChartView>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "GraphScreen.h"
#include "PanelButton.h"
#include "screen_fixture.h"

namespace {

using namespace arm;
using Clock = std::chrono::steady_clock;

constexpr int kHour = 3600;

struct HourOfGraph {
  HourOfGraph() {
    screen.resize(890, 720);
    screen.show();
    // The screen's own 1 s timer would add samples while the cases run.
    screen.findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
    TDev& d = bench.dev();
    d.linked = 1;
    d.kestoOk = 1;
    d.kestoDataValid = 1;
    for (int i = 0; i < kHour; ++i) step(i);
    QApplication::processEvents();
  }
  // A slowly rising pressure with some noise, the channels following it.
  void step(int i) {
    TDev& d = bench.dev();
    d.pRefUnits = static_cast<float>(i * 0.25 + std::sin(i * 0.7));
    for (int k = 0; k < 4; ++k) {
      d.ch[k].pFromIKPa = d.pRefUnits * (1.0f + 0.001f * k);
      d.ch[k].pFromI = d.ch[k].pFromIKPa;
      d.ch[k].current = 4.0f + 16.0f * static_cast<float>(i % 900) / 900.0f;
      d.ch[k].reducedError = 0.05f * std::sin(i * 0.01f + k);
    }
    screen.Timer1Timer();
  }

  armtest::ScreenBench bench;
  GraphScreen screen{bench.context};
};

HourOfGraph& hour() {
  static auto* h = new HourOfGraph;
  return *h;
}

// The calling thread's CPU time, in microseconds: on a machine shared with other work the wall time
// of an operation also counts the time other processes had the processor.
double threadCpuUs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// Times each call of `op` and adds the median and the 95th percentile of its wall time (median_us,
// p95_us) and of its CPU time (cpu_median_us, cpu_p95_us) to the report.
template <typename Op>
void timeEach(benchmark::State& state, Op&& op) {
  std::vector<double> wall;
  std::vector<double> cpu;
  for (auto _ : state) {
    const auto start = Clock::now();
    const double cpuStart = threadCpuUs();
    op();
    cpu.push_back(threadCpuUs() - cpuStart);
    wall.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  if (wall.empty()) return;
  auto report = [&state](std::vector<double>& us, const char* median, const char* p95) {
    std::sort(us.begin(), us.end());
    state.counters[median] = us[us.size() / 2];
    state.counters[p95] = us[std::min(us.size() - 1, us.size() * 95 / 100)];
  };
  report(wall, "median_us", "p95_us");
  report(cpu, "cpu_median_us", "cpu_p95_us");
}

void BM_Graph_SampleAndRedraw(benchmark::State& state) {
  HourOfGraph& h = hour();
  QWidget* viewport = h.screen.chartView()->viewport();
  int i = static_cast<int>(h.screen.samples().size());
  timeEach(state, [&] {
    h.step(i++);
    QApplication::processEvents();
    viewport->repaint();
  });
  state.counters["points"] = static_cast<double>(h.screen.samples().size());
}
BENCHMARK(BM_Graph_SampleAndRedraw)->Unit(benchmark::kMicrosecond)->Iterations(200);

void BM_Graph_Notification(benchmark::State& state) {
  HourOfGraph& h = hour();
  TDev& d = h.bench.dev();
  timeEach(state, [&] {
    d.event = 2;
    h.screen.notify(d);
    h.screen.setChannelsVisible(d.kestoOk != 0);
    d.event = 0;
  });
}
BENCHMARK(BM_Graph_Notification)->Unit(benchmark::kMicrosecond);

void BM_Graph_SwitchQuantity(benchmark::State& state) {
  HourOfGraph& h = hour();
  PanelButton* current = h.screen.findChild<PanelButton*>(QStringLiteral("pn_sw_I"));
  PanelButton* pressure = h.screen.findChild<PanelButton*>(QStringLiteral("pn_sw_P"));
  bool toCurrent = true;
  timeEach(state, [&] {
    h.screen.pn_sw_PClick(toCurrent ? current : pressure);
    toCurrent = !toCurrent;
    QApplication::processEvents();
  });
  h.screen.pn_sw_PClick(pressure);
}
BENCHMARK(BM_Graph_SwitchQuantity)->Unit(benchmark::kMicrosecond)->Iterations(40);

void BM_Graph_Table(benchmark::State& state) {
  HourOfGraph& h = hour();
  std::size_t bytes = 0;
  timeEach(state, [&] { bytes = h.screen.samples().table().size(); });
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Graph_Table)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
