// Cost of the scheduler: one timer call with nothing pending, with a due step, with a step not yet
// due, and of scheduling a step.
#include <benchmark/benchmark.h>

#include "platform/quarn_host.h"
#include "quarn_core.h"

namespace {

int32_t stayPending() { return 0; }
int32_t emptyStep() { return 0; }

// A clock whose sleep returns at once, so the 1 ms pause of a step that is not yet due is left out
// of the measurement (the rest of the call is what the timer costs).
uint32_t fixedNow(void*) { return 1000; }
void noSleep(void*, uint32_t) {}

void BM_TimerProc_NothingPending(benchmark::State& state) {
  OnTimer = nullptr;
  uint32_t tick = 0;
  for (auto _ : state) TimerProc(nullptr, 0, 1, tick += 20);
}
BENCHMARK(BM_TimerProc_NothingPending);

void BM_TimerProc_DueStep(benchmark::State& state) {
  ToNext0(stayPending);
  uint32_t tick = quarn_now_ms() + 20;
  for (auto _ : state) TimerProc(nullptr, 0, 1, tick += 20);
  OnTimer = nullptr;
}
BENCHMARK(BM_TimerProc_DueStep);

void BM_TimerProc_StepNotDueWithoutItsPause(benchmark::State& state) {
  const quarn_clock clock{nullptr, fixedNow, noSleep};
  quarn_set_clock(&clock);
  ToNext(stayPending, 100000);
  for (auto _ : state) TimerProc(nullptr, 0, 1, 1020);
  OnTimer = nullptr;
  quarn_set_clock(nullptr);
}
BENCHMARK(BM_TimerProc_StepNotDueWithoutItsPause);

void BM_ToNext0(benchmark::State& state) {
  for (auto _ : state) ToNext0(emptyStep);
  OnTimer = nullptr;
}
BENCHMARK(BM_ToNext0);

void BM_ToNext_Delay(benchmark::State& state) {
  for (auto _ : state) ToNext(emptyStep, 100);
  OnTimer = nullptr;
}
BENCHMARK(BM_ToNext_Delay);

void BM_ToNext_AtOnce(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ToNext(emptyStep, 0));
  OnTimer = nullptr;
}
BENCHMARK(BM_ToNext_AtOnce);

void BM_ToNextOnError(benchmark::State& state) {
  for (auto _ : state) ToNextOnError(emptyStep, 500);
  OnTimer = nullptr;
}
BENCHMARK(BM_ToNextOnError);

}  // namespace

BENCHMARK_MAIN();
