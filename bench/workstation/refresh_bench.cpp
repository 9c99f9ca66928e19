// ARM_Quarn's refresh at a library notification while the graph holds one hour of samples (3600 points
// in each of the 13 series). The main window is bound to the real libquarn.so with the simulated bench
// (four HART transmitters on the Kesto channels) on a virtual port and the library's clock replaced by
// a virtual one; the hour is sampled as the graph's 1 s timer would, in virtual time. Each iteration
// runs the library until it has notified once more, with the graph sampling every virtual second.
// Times per notification (median and 95th percentile of wall and CPU time of the window thread):
//   Callback        the workstation's callback: UpdateFromDev (every screen refreshes from the record,
//                   then the window's own texts) and the snapshot copy;
//   CallbackAndPaint  the callback and the repaint of what it changed, which the event loop does
//                   right after it.
// The cases run with the graph screen shown (its curves are drawn) and with the regulation screen
// shown. QUARN_BENCH_GRAPH_SECONDS sets a shorter history (the smoke run of the test suite).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "bench_fixture.h"
#include "screen_bench.h"

namespace {

using namespace arm;
using namespace armtest;
using Clock = std::chrono::steady_clock;

// The workstation's own callback, timed: the window installed it in the record when it bound.
TUpdateFn g_callback = nullptr;
int g_notifications = 0;
double g_lastWallUs = 0;
double g_lastCpuUs = 0;

void timedCallback() {
  const auto start = Clock::now();
  const double cpuStart = screenbench::threadCpuUs();
  g_callback();
  g_lastCpuUs = screenbench::threadCpuUs() - cpuStart;
  g_lastWallUs = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  ++g_notifications;
}

int historySeconds() {
  const char* text = std::getenv("QUARN_BENCH_GRAPH_SECONDS");
  const int seconds = text ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : 3600;
}

class ConnectedWindow {
 public:
  ConnectedWindow() {
    if (!openLibrary()) std::abort();
    copyCatalogues(dir_.path());

    engine_ = std::make_unique<quarnsim::Engine>(quarnsim::Scenario{});
    ops_ = simPortOps(engine_->calibratorPort());
    if (g_lib.registerVirtual(7, &ops_) != 0) std::abort();

    window_ = std::make_unique<MainWindow>(windowOptions(dir_.path()));
    if (window_->create() != 0) std::abort();
    window_->resize(1100, 778);
    window_->show();
    window_->TimerLoadTimer();
    graph_ = window_->screen<GraphScreen>();
    // Sampling is driven by tick(), in virtual time.
    graph_->findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
    window_->ports().COM11Click(window_->ports().portMenu()->findChild<QAction*>("COM7"));
    for (int t = 0; t < 30000 && !(dev().linked == 1 && dev().kestoDataValid && dev().task == TASK_MEASURE);
         t += 20)
      tick();
    if (dev().linked != 1 || !dev().kestoDataValid) std::abort();  // the bench never answered
    g_callback = dev().onUpdate;
    dev().onUpdate = &timedCallback;

    // The history starts now: what was sampled while connecting goes.
    window_->SelectMode(kModeGraph);
    graph_->clearSeries();
    while (static_cast<int>(graph_->samples().size()) < historySeconds()) {
      tick();
      if (g_now % 60000 == 0) QApplication::processEvents();
    }
    QApplication::processEvents();
    historyFilled_ = true;
  }

  TDev& dev() { return *window_->dev(); }
  MainWindow& window() { return *window_; }
  const GraphSamples& samples() const { return graph_->samples(); }

  // Runs the library until it has notified once more; the graph samples every virtual second.
  void untilNextNotification() {
    const int before = g_notifications;
    while (g_notifications == before) tick();
  }

 private:
  void tick() {
    g_now += 20;
    // The graph's 1 s timer, in virtual time. Once the history is there, the chart's repaint after a
    // sampling is done here, so that the timed repaint after a notification is that notification's.
    if (g_now - lastSample_ >= 1000) {
      lastSample_ = g_now;
      graph_->Timer1Timer();
      if (historyFilled_) QApplication::processEvents();
    }
    g_lib.timerProc(nullptr, 0, 1, g_now);
  }

  QTemporaryDir dir_;
  std::unique_ptr<quarnsim::Engine> engine_;
  quarn_vport_ops ops_{};
  std::unique_ptr<MainWindow> window_;
  GraphScreen* graph_ = nullptr;
  uint32_t lastSample_ = 0;
  bool historyFilled_ = false;
};

ConnectedWindow& connected() {
  static auto* w = new ConnectedWindow;  // kept to the end: the library holds its ports and callback
  return *w;
}

// mode: the screen shown; paint: the repaint after the callback is timed with it.
void refresh(benchmark::State& state, int mode, bool paint) {
  ConnectedWindow& w = connected();
  w.window().SelectMode(mode);
  QApplication::processEvents();
  screenbench::Times times;
  for (auto _ : state) {
    w.untilNextNotification();
    double wallUs = g_lastWallUs;
    double cpuUs = g_lastCpuUs;
    if (paint) {
      const auto start = Clock::now();
      const double cpuStart = screenbench::threadCpuUs();
      QApplication::processEvents();
      cpuUs += screenbench::threadCpuUs() - cpuStart;
      wallUs += std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    }
    times.add(wallUs, cpuUs);
    state.SetIterationTime(wallUs / 1e6);
  }
  times.report(state);
  state.counters["graph_points"] = static_cast<double>(w.samples().size());
}

void BM_Refresh_Callback_GraphShown(benchmark::State& state) { refresh(state, kModeGraph, false); }
void BM_Refresh_CallbackAndPaint_GraphShown(benchmark::State& state) { refresh(state, kModeGraph, true); }
void BM_Refresh_Callback_RegulationShown(benchmark::State& state) { refresh(state, kModeRegulation, false); }
void BM_Refresh_CallbackAndPaint_RegulationShown(benchmark::State& state) {
  refresh(state, kModeRegulation, true);
}
BENCHMARK(BM_Refresh_Callback_GraphShown)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(300);
BENCHMARK(BM_Refresh_CallbackAndPaint_GraphShown)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->Iterations(300);
BENCHMARK(BM_Refresh_Callback_RegulationShown)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->Iterations(300);
BENCHMARK(BM_Refresh_CallbackAndPaint_RegulationShown)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->Iterations(300);

}  // namespace

int main(int argc, char** argv) { return screenbench::runInQApplication(argc, argv); }
