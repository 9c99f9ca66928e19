// How long a HART device search takes, with its fixed windows and as the fast search, beside the
// line's limit for the same traffic. The library runs against the in-process simulator in virtual
// time (the timer called every 20 ms, as a periodic host does; a host on the library's timer
// descriptor is called at each step's deadline, so real searches are a little shorter).
//
// The limit: every byte the search wrote and read at its line speed (HART 1200 baud, 12 bits a
// character on this port; UAIL 9600 baud, 11 bits), plus the turnaround of each answer (the bench's
// transmitters answer after 50 ms, the Kesto module after 15 ms), plus, for each poll that stays
// silent, the 257 ms a HART device has to begin its answer. Counters (figures in seconds of virtual
// time): search_s, limit_s, x_limit = search_s / limit_s, per_channel_s (from the first channel
// select, after the Kesto module's channel status, to the end). Each benchmark row runs one
// search per iteration; run it with --benchmark_min_time=0.001 (one search is enough).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string_view>

#include "calibrator/calibrator.h"
#include "hart/hart_procedures.h"
#include "quarn_core.h"
#include "quarnsim/engine.h"
#include "serial/serial_port.h"
#include "sim_vport.h"
#include "virtual_timer_clock.h"

namespace {

constexpr uint32_t kPort = 5;
constexpr double kHartAnswerMs = 50;
constexpr double kKestoAnswerMs = 15;
constexpr double kSlaveTimeoutMs = 257;

using quarn::test::VirtualClock;

// The simulator's port with a count of the line time of everything that passes, and of the requests
// that drew an answer (a HART answer: a delimiter after its preamble; a UAIL answer: any byte).
struct LineTap {
  quarn_vport_ops inner{};
  uint32_t baud = 9600;
  double lineMs = 0;  // characters on the line
  int hartAnswers = 0, hartSilent = 0, uailAnswers = 0;
  bool counting = false;
  // The request whose answer is being read.
  bool open = false, openHart = false, answered = false, sawPreamble = false;

  double charMs() const { return baud == 1200 ? 12.0 * 1000 / 1200 : 11.0 * 1000 / 9600; }
  void closeRequest() {
    if (open) {
      if (openHart)
        (answered ? hartAnswers : hartSilent) += 1;
      else if (answered)
        ++uailAnswers;
    }
    open = false;
  }
  // When the first channel select of the search went out (the search's own start, the Kesto
  // module's channel status, comes before it).
  bool selected = false;
  uint32_t firstSelectMs = 0;

  void wrote(const uint8_t* d, int n, uint32_t now) {
    if (!counting || n <= 0) return;
    if (!selected && baud == 9600 &&
        std::string_view(reinterpret_cast<const char*>(d), n).find(":3;5;") != std::string_view::npos) {
      selected = true;
      firstSelectMs = now;
    }
    lineMs += n * charMs();
    closeRequest();
    open = true;
    openHart = baud == 1200;
    answered = sawPreamble = false;
  }
  void read(const uint8_t* b, int n) {
    if (!counting || n <= 0) return;
    lineMs += n * charMs();
    for (int i = 0; i < n; ++i) {
      if (!openHart || (sawPreamble && b[i] != 0xFF)) answered = true;
      if (b[i] == 0xFF) sawPreamble = true;
    }
  }
  void start() {
    lineMs = 0;
    hartAnswers = hartSilent = uailAnswers = 0;
    open = selected = false;
    counting = true;
  }
  void stop() {
    closeRequest();
    counting = false;
  }

  quarn_vport_ops ops() {
    quarn_vport_ops o = inner;
    o.ctx = this;
    o.open = [](void* c) {
      auto* t = static_cast<LineTap*>(c);
      return t->inner.open(t->inner.ctx);
    };
    o.close = [](void* c) {
      auto* t = static_cast<LineTap*>(c);
      t->inner.close(t->inner.ctx);
    };
    o.set_line = [](void* c, uint32_t b, int p, int s) {
      auto* t = static_cast<LineTap*>(c);
      t->baud = b;
      t->inner.set_line(t->inner.ctx, b, p, s);
    };
    o.write = [](void* c, const uint8_t* d, uint32_t n, uint32_t now) {
      auto* t = static_cast<LineTap*>(c);
      const int w = t->inner.write(t->inner.ctx, d, n, now);
      t->wrote(d, w, now);
      return w;
    };
    o.available = [](void* c, uint32_t now) {
      auto* t = static_cast<LineTap*>(c);
      return t->inner.available(t->inner.ctx, now);
    };
    o.read = [](void* c, uint8_t* b, uint32_t m, uint32_t now) {
      auto* t = static_cast<LineTap*>(c);
      const int r = t->inner.read(t->inner.ctx, b, m, now);
      t->read(b, r);
      return r;
    };
    o.purge = [](void* c) {
      auto* t = static_cast<LineTap*>(c);
      t->inner.purge(t->inner.ctx);
    };
    return o;
  }
};

enum class Bench { FourDevices, EmptyChannel };

quarnsim::Scenario scenarioOf(Bench b) {
  quarnsim::Scenario s;  // four transmitters at polling address 0
  s.hartTurnaround = {kHartAnswerMs, kHartAnswerMs};
  s.kestoTurnaround = {kKestoAnswerMs, kKestoAnswerMs};
  if (b == Bench::EmptyChannel) {
    s.channels[0].hart = false;  // a 4-20 mA transmitter without HART
    s.channelStatus = {0, 1, 1, 1};
  }
  return s;
}

int g_notices = 0;
void onUpdate() { ++g_notices; }

void searchTime(benchmark::State& state, Bench which, bool fast) {
  VirtualClock clock;
  InitDev();
  quarnsim::Engine bench(scenarioOf(which));
  LineTap tap;
  tap.inner = quarn::test::simVportOps(bench.calibratorPort());
  const quarn_vport_ops ops = tap.ops();
  quarn_port_register_virtual(kPort, &ops);
  Dev.onUpdate = onUpdate;
  Dev.model = 1;
  Dev.portNo = kPort;
  SetTask(TASK_CONNECT, nullptr);
  while (!(Dev.linked == 1 && Dev.task == TASK_MEASURE)) clock.tick();

  quarn_hart_set_fast_search(fast ? 1 : 0, QUARN_HART_TURNAROUND_DEFAULT_MS);
  double searchMs = 0, limitMs = 0, channelsMs = 0;
  int channels = 0, searches = 0;
  for (auto _ : state) {
    tap.start();
    const uint32_t start = clock.now();
    SetTask(TASK_HART_SEARCH, nullptr);
    while (Dev.task != TASK_MEASURE) clock.tick();
    tap.stop();
    searchMs += clock.now() - start;
    channelsMs += clock.now() - tap.firstSelectMs;
    // The devices' answers, the Kesto module's answers, and the time-out of each silent poll.
    limitMs += tap.lineMs + tap.hartAnswers * kHartAnswerMs + tap.uailAnswers * kKestoAnswerMs +
               tap.hartSilent * kSlaveTimeoutMs;
    channels = 0;
    for (int ch = 0; ch < 4; ++ch) channels += Dev.hartChk[ch].active ? 1 : 0;
    ++searches;
  }
  const double perSearchS = searchMs / searches / 1000.0;
  const double limitS = limitMs / searches / 1000.0;
  state.counters["search_s"] = perSearchS;
  state.counters["limit_s"] = limitS;
  state.counters["x_limit"] = perSearchS / limitS;
  // From the first channel select to the search's end, per usable channel.
  state.counters["per_channel_s"] = channels ? channelsMs / searches / 1000.0 / channels : 0;
  int found = 0;
  for (const THartDev& h : Dev.hart) found += h.found ? 1 : 0;
  state.counters["found"] = found;

  quarn_hart_set_fast_search(0, QUARN_HART_TURNAROUND_DEFAULT_MS);
  OnTimer = nullptr;
  Dev.onUpdate = nullptr;
  ClosePorts(-1);
  quarn_port_unregister(kPort);
  quarn_set_clock(nullptr);
}

void BM_SearchFourDevices_FixedWindows(benchmark::State& s) { searchTime(s, Bench::FourDevices, false); }
void BM_SearchFourDevices_Fast(benchmark::State& s) { searchTime(s, Bench::FourDevices, true); }
void BM_SearchEmptyChannel_FixedWindows(benchmark::State& s) { searchTime(s, Bench::EmptyChannel, false); }
void BM_SearchEmptyChannel_Fast(benchmark::State& s) { searchTime(s, Bench::EmptyChannel, true); }

BENCHMARK(BM_SearchFourDevices_FixedWindows)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SearchFourDevices_Fast)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SearchEmptyChannel_FixedWindows)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SearchEmptyChannel_Fast)->Unit(benchmark::kMillisecond)->Iterations(1);

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
