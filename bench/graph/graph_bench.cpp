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
#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

#include "GraphScreen.h"
#include "PanelButton.h"
#include "screen_bench.h"
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

// Times each call of `op` and adds the median and the 95th percentile of its wall time (median_us,
// p95_us) and of its CPU time (cpu_median_us, cpu_p95_us) to the report.
template <typename Op>
void timeEach(benchmark::State& state, Op&& op) {
  screenbench::Times times;
  for (auto _ : state) {
    const auto start = Clock::now();
    const double cpuStart = screenbench::threadCpuUs();
    op();
    const double cpuUs = screenbench::threadCpuUs() - cpuStart;
    times.add(std::chrono::duration<double, std::micro>(Clock::now() - start).count(), cpuUs);
  }
  times.report(state);
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

int main(int argc, char** argv) { return screenbench::runInQApplication(argc, argv); }
