// What the one-button calibration costs beside its parts: the whole sequence (HART search, as-found
// verification, sensor trim, current trim, as-left verification) against the same parts started one
// by one, each timed from its start to its end, as an operator would run them from the screens. The
// library runs against the in-process simulator's calibration bench (examples/
// calibration_bench.scenario on the Brenk, which sets every pressure itself) with the project
// examples/calibration.aip, in virtual time: the timer is called every 20 ms of it, as a periodic
// host does, and each step is taken at the first timer period after the one that ended the previous
// part, as the hosts take it.
//
// Counters (seconds of virtual time, what the operator waits): whole_s, parts_s (the sum), x_parts =
// whole_s / parts_s (1.0: the sequence adds no waiting of its own), and each part: search_s,
// as_found_s, sensor_trim_s, current_trim_s, as_left_s. The benchmark's own time is the real time
// the simulation took. One iteration is enough: --benchmark_min_time=0.001.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "CalibrationSequence.h"
#include "ProjectFile.h"
#include "ReferenceLimit.h"
#include "RunControl.h"
#include "RunSnapshot.h"
#include "TDevValues.h"
#include "quarn_core.h"
#include "quarnsim/engine.h"
#include "quarnsim/scenario.h"
#include "serial/serial_port.h"
#include "sim_vport.h"
#include "test_paths.h"
#include "virtual_timer_clock.h"

namespace {

namespace data = quarn::data;

constexpr uint32_t kPort = 5;
constexpr uint32_t kLimitMs = 60u * 60u * 1000u;  // an hour of virtual time for any one part

using quarn::test::VirtualClock;

// The notification the library sends goes to whoever listens now.
std::function<void()> g_listener;
void onUpdate() {
  if (g_listener) g_listener();
}

// The calibration bench connected: a fresh record, a fresh simulator, the project loaded.
class Bench {
 public:
  Bench() : engine_(scenario()), port_(kPort, engine_.calibratorPort()) {
    InitDev();
    Dev.onUpdate = onUpdate;
    Dev.model = 0;
    Dev.portNo = kPort;
    data::loadProject(quarn::test::path("QUARN_EXAMPLES_DIR") + "/calibration.aip", project);
  }
  ~Bench() {
    g_listener = nullptr;
    OnTimer = nullptr;
    Dev.onUpdate = nullptr;
    ClosePorts(-1);
  }
  bool connect(VirtualClock& clock) {
    SetTask(TASK_CONNECT, nullptr);
    return clock.runUntil([] { return Dev.linked == 1 && Dev.task == TASK_MEASURE; }, 60000) &&
           clock.runUntil([] { return Dev.kestoDataValid != 0; }, 10000);
  }
  // The verification prepared as the hosts' start button prepares it.
  bool prepareRun(std::string& why) {
    data::ApplyOptions apply;
    apply.calibratorLine = data::calibratorLine(Dev);
    const data::Result<data::RunStart> ready = data::prepareVerification(project, Dev, apply, false);
    if (!ready) why = ready.why();
    return static_cast<bool>(ready);
  }

  data::Project project;

 private:
  static quarnsim::Scenario scenario() {
    quarnsim::Scenario s;
    quarnsim::loadScenarioFile(s, quarn::test::path("QUARN_EXAMPLES_DIR") + "/calibration_bench.scenario");
    return s;
  }
  quarnsim::Engine engine_;
  quarn::test::SimVport port_;
};

class BenchHost : public data::CalibrationHost {
 public:
  explicit BenchHost(Bench& bench) : bench_(bench) {}
  TDev& dev() override { return Dev; }
  void startTask(uint32_t task) override { SetTask(task, nullptr); }
  std::unique_ptr<data::RunSnapshot> prepareRun(std::string& why) override {
    if (!bench_.prepareRun(why)) return nullptr;
    return std::make_unique<data::RunSnapshot>(Dev, bench_.project, data::ProtocolFields{});
  }

 private:
  Bench& bench_;
};

void BM_WholeSequenceAgainstItsParts(benchmark::State& state) {
  double wholeS = 0, partsS = 0;
  double part[5] = {};
  int iterations = 0;
  for (auto _ : state) {
    VirtualClock clock;
    {
      // The whole sequence: its next step at the first timer period after the one that asked for it.
      Bench bench;
      if (!bench.connect(clock)) return state.SkipWithError("no link to the simulated calibrator");
      BenchHost host(bench);
      data::CalibrationSequence seq(host, {});
      g_listener = [&] { seq.onNotify(Dev); };
      const uint32_t start = clock.now();
      seq.start();
      const bool ended = clock.runUntil(
          [&] {
            if (seq.actionDue()) seq.advance();
            return seq.finished();
          },
          kLimitMs);
      if (!ended || seq.stage() != data::CalibrationStage::Finished || !seq.succeeded())
        return state.SkipWithError(("the sequence did not succeed: " + seq.stopReason()).c_str());
      wholeS += (clock.now() - start) / 1000.0;
    }
    {
      // The same parts one by one.
      Bench bench;
      if (!bench.connect(clock)) return state.SkipWithError("no link to the simulated calibrator");
      bool runDone = false;
      g_listener = [&] {
        if (Dev.task == TASK_CHECK && Dev.retCode == RETCODE_VERIFICATION_DONE) runDone = true;
      };
      auto timed = [&](int k, uint32_t task, const std::function<bool()>& done) {
        const uint32_t start = clock.now();
        SetTask(task, nullptr);
        const bool ok = clock.runUntil(done, kLimitMs);
        part[k] += (clock.now() - start) / 1000.0;
        partsS += (clock.now() - start) / 1000.0;
        return ok;
      };
      auto backToMeasuring = [] { return Dev.task == TASK_MEASURE; };
      auto verification = [&](int k) {
        std::string why;
        if (!bench.prepareRun(why)) return false;
        runDone = false;
        const bool ok = timed(k, TASK_CHECK, [&] { return runDone; });
        // Back to measuring before the next part, as the screens' end of a run does (not timed).
        SetTask(TASK_MEASURE, nullptr);
        clock.runUntil(backToMeasuring, 10000);
        return ok;
      };
      if (!timed(0, TASK_HART_SEARCH, backToMeasuring)) return state.SkipWithError("the search did not end");
      if (!verification(1)) return state.SkipWithError("the as-found run did not end");
      // The two devices out of tolerance, trimmed at the ends of their range.
      for (int c = 0; c < 4; ++c) {
        Dev.trimOn[c] = c < 2 ? 1 : 0;
        Dev.hartChk[c].active = c < 2 ? 1 : 0;
      }
      const data::CalibrationOptions options;
      Dev.trimPmin = Dev.devCh[0].MinKpa;
      Dev.trimPmax = Dev.devCh[0].MaxKpa;
      Dev.trimCorridor = options.trimCorridorPercent;
      Dev.trimTime = options.trimHoldS;
      if (!timed(2, TASK_HART_TUNE_TRIM, backToMeasuring))
        return state.SkipWithError("the sensor trim did not end");
      if (!timed(3, TASK_HART_TUNE_I, backToMeasuring))
        return state.SkipWithError("the current trim did not end");
      if (!verification(4)) return state.SkipWithError("the as-left run did not end");
    }
    quarn_set_clock(nullptr);
    ++iterations;
  }
  if (iterations == 0) return;
  state.counters["whole_s"] = wholeS / iterations;
  state.counters["parts_s"] = partsS / iterations;
  state.counters["x_parts"] = wholeS / partsS;
  const char* names[5] = {"search_s", "as_found_s", "sensor_trim_s", "current_trim_s", "as_left_s"};
  for (int k = 0; k < 5; ++k) state.counters[names[k]] = part[k] / iterations;
}

BENCHMARK(BM_WholeSequenceAgainstItsParts)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // Shut down while a virtual clock still stands, so the unload exchange costs no real time.
  VirtualClock clock;
  ExitDll();
  quarn_set_clock(nullptr);
  return 0;
}
