// Frame building, answer decoding and table lookups of the HART master.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "hart/hart_master.h"

namespace {

THartDev validRecord() {
  THartDev dev;
  std::memset(&dev, 0, sizeof dev);
  dev.size = THARTDEV_SIZE;
  dev.endMark = THARTDEV_END_MARK;
  dev.outputType = 1;
  return dev;
}

// A slave answer with a long address.
std::vector<uint8_t> answer(uint8_t command, const std::vector<uint8_t>& data) {
  const uint8_t head[] = {0x86, 0xA6, 0x06, 0x12, 0x34, 0x56, command, static_cast<uint8_t>(data.size() + 2),
                          0,    0};
  std::vector<uint8_t> out(5 + sizeof head + data.size(), 0xFF);
  std::copy(head, head + sizeof head, out.begin() + 5);
  std::copy(data.begin(), data.end(), out.begin() + 5 + sizeof head);
  out.push_back(calc_crcHART(out.data() + 5, static_cast<int32_t>(out.size() - 5)));
  return out;
}

std::vector<uint8_t> command0Rev7() {
  return answer(0, {254,  0x26, 0x06, 5,    7,    3,    2,    0xA9, 0x01, 0x12, 0x34,
                    0x56, 8,    4,    0x01, 0x07, 0x02, 0x00, 0x26, 0x12, 0x34, 0x01});
}

std::vector<uint8_t> command3() {
  std::vector<uint8_t> d = {0x41, 0x40, 0, 0};
  for (uint8_t units : {12, 32, 57, 39}) {
    d.push_back(units);
    d.insert(d.end(), {0x41, 0xA0, 0, 0});
  }
  return answer(3, d);
}

void BM_FormRq(benchmark::State& state) {
  const uint8_t address[5] = {0xA6, 0x06, 0x12, 0x34, 0x56};
  std::vector<uint8_t> data(static_cast<size_t>(state.range(0)), 0x42);
  uint8_t buf[HART_FRAME_MAX];
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormRq(buf, address, 35, static_cast<int32_t>(data.size()), data.data()));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormRq)->Arg(0)->Arg(9)->Arg(255);

void BM_FormRq_BFF(benchmark::State& state) {
  THartDev dev = validRecord();
  uint8_t buf[HART_FRAME_MAX];
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormRq_BFF(buf, &dev, 35, 12, 4.0f, 20.0f));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormRq_BFF);

void BM_FormShortRq0(benchmark::State& state) {
  uint8_t buf[16];
  uint32_t p = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormShortRq0(buf, p++ & 63));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormShortRq0);

void deformBench(benchmark::State& state, const std::vector<uint8_t>& frame) {
  THartDev dev = validRecord();
  for (auto _ : state)
    benchmark::DoNotOptimize(Hart_DeForm(frame.data(), static_cast<uint32_t>(frame.size()), &dev));
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}
void BM_DeFormCommand0(benchmark::State& state) { deformBench(state, command0Rev7()); }
void BM_DeFormCommand3(benchmark::State& state) { deformBench(state, command3()); }
BENCHMARK(BM_DeFormCommand0);
BENCHMARK(BM_DeFormCommand3);

void BM_OnRxCharCommand3(benchmark::State& state) {
  THartDev dev = validRecord();
  const auto frame = command3();
  for (auto _ : state) {
    int32_t r = 0;
    for (uint8_t b : frame) r = OnRxChar(&dev, b);
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}
BENCHMARK(BM_OnRxCharCommand3);

void BM_ResponseText(benchmark::State& state) {
  uint32_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ToStrResponse(35 + (i & 7), 2 + (i % 30)));
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ResponseText);

void BM_DeviceTypeLookup(benchmark::State& state) {
  uint16_t type = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetDescription(type));
    type = static_cast<uint16_t>(type + 0x0101);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DeviceTypeLookup);

void BM_UnitCodeByText(benchmark::State& state) {
  const char* kpa = t02_GetUnitStringFromCode(12);
  for (auto _ : state) benchmark::DoNotOptimize(GetCodeByStr(2, kpa));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UnitCodeByText);

}  // namespace

BENCHMARK_MAIN();
