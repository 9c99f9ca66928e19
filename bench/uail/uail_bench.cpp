// Throughput of the UAIL receiver and cost of building and sending requests; the time a search needs
// to open every port number.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/quarn_host.h"
#include "quarn_core.h"
#include "serial/serial_port.h"
#include "uail/uail.h"

namespace {

std::string answerFrame(const std::string& body) {
  return "!" + body + std::to_string(CalcMemCRC(body.data(), static_cast<uint16_t>(body.size()))) + "\r";
}

// A measuring-cycle answer of the calibrator: state word, reference and barometric pressure as hex
// floats, a few more fields.
std::string typicalStream(size_t minBytes) {
  const std::string frame = answerFrame("1;105;0000803F;00C0C742;3;0;1;00000000;12.5;");
  std::string stream;
  while (stream.size() < minBytes) stream += frame;
  return stream;
}

void BM_ReceiverBytes(benchmark::State& state) {
  const std::string stream = typicalStream(64 * 1024);
  TUail rx{};
  UAIL_Init(&rx);
  int64_t answers = 0;
  for (auto _ : state) {
    for (char c : stream) answers += UAIL_RxChar(static_cast<uint8_t>(c), &rx);
    benchmark::DoNotOptimize(answers);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
  state.counters["answers"] = benchmark::Counter(static_cast<double>(answers), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReceiverBytes);

void BM_CalcMemCRC(benchmark::State& state) {
  const std::string text(1000, '7');
  for (auto _ : state) benchmark::DoNotOptimize(CalcMemCRC(text.data(), static_cast<uint16_t>(text.size())));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_CalcMemCRC);

void BM_FrameBuild(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Uail_make_RAW("1;2;0000803F;"));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_FrameBuild);

// A setpoint request built and handed to a port (an in-process peer that takes everything).
void BM_RequestSend(benchmark::State& state) {
  quarn_vport_ops ops{};
  ops.write = [](void*, const uint8_t*, uint32_t n, uint32_t) { return static_cast<int>(n); };
  ops.available = [](void*, uint32_t) { return 0; };
  quarn_port_register_virtual(250, &ops);
  pRS = &rs;
  rs.hCom = OpenPortAsync(250, 9600, 0);
  uail.addr = 1;
  float p = 101.325f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Uail_txF(2, p));
    p += 0.001f;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  ClosePortAsync(rs.hCom);
  rs.hCom = 0;
  quarn_port_unregister(250);
}
BENCHMARK(BM_RequestSend);

// Opening every port number 1..253 as the calibrator search does (the devices of this machine).
void BM_ScanOpenPorts(benchmark::State& state) {
  const quarn_clock noWait{nullptr, [](void*) { return uint32_t{0}; }, [](void*, uint32_t) {}};
  quarn_set_clock(&noWait);
  pRS = &rs;
  int opened = 0;
  for (auto _ : state) {
    opened = ScanOpenPorts(rs.hPort, 9600);
    state.PauseTiming();
    ClosePorts(-1);
    state.ResumeTiming();
  }
  state.counters["opened"] = opened;
  quarn_set_clock(nullptr);
}
BENCHMARK(BM_ScanOpenPorts)->Unit(benchmark::kMicrosecond);

}  // namespace

// The library shuts down when the program ends (remote operation off takes 1.5 s of waiting): do it
// here on a clock that does not wait.
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const quarn_clock noWait{nullptr, [](void*) { return uint32_t{0}; }, [](void*, uint32_t) {}};
  quarn_set_clock(&noWait);
  ExitDll();
  return 0;
}
