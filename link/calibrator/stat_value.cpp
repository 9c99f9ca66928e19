// Running statistics of one measured quantity: ring of samples, mean, spread, extremes, speed, the
// readiness corridor and the hold timer.
#include "calibrator/stat_value.h"

#include <cmath>
#include <cstring>

#include "calibrator/link_deps.h"
#include "calibrator/verification.h"

namespace {

// Ring slots actually usable: the record's window, kept inside the 200 slots of the ring.
int32_t usableWindow(const TStatValue* s) {
  if (s->window < 0) return 0;
  return s->window > STAT_RING_SIZE ? STAT_RING_SIZE : s->window;
}

// Zeroes everything after the parameter group's predecessors, keeping the parameters.
void clearData(TStatValue* s) {
  const float target = s->target;
  const uint32_t holdMs = s->holdMs;
  const float stableBand = s->stableBand;
  const float readyCorridor = s->readyCorridor;
  const int32_t window = s->window;
  std::memset(s, 0, sizeof *s);
  s->target = target;
  s->holdMs = holdMs;
  s->stableBand = stableBand;
  s->readyCorridor = readyCorridor;
  s->window = window;
}

void resetHold(TStatValue* s, uint32_t holdStart) {
  s->holdEnd = 0;
  s->holdStart = holdStart;
  s->stable = 0;
  s->holding = 0;
}

}  // namespace

extern "C" {

QUARN_API int32_t StatValue_isNan(float x) {
  return (std::isnan(x) || x < -STAT_VALUE_LIMIT || x > STAT_VALUE_LIMIT) ? 1 : 0;
}

QUARN_API double StatValue_pow2(float x) { return static_cast<double>(x) * static_cast<double>(x); }

QUARN_API uint32_t StatValue_get_mS(void) { return quarn_now_ms(); }

QUARN_API double Z_x2(float a, float b, float c, float d, float e, float f) {
  return std::sqrt(StatValue_pow2(a) + StatValue_pow2(b) + StatValue_pow2(c) + StatValue_pow2(d) +
                   StatValue_pow2(e) + StatValue_pow2(f));
}

QUARN_API int32_t StatValue_Init(TStatValue* s) {
  if (s) std::memset(s, 0, sizeof *s);
  return 0;
}

QUARN_API int32_t StatValue_Clear(TStatValue* s) {
  if (s) clearData(s);
  return 0;
}

QUARN_API int32_t StatValue_ClearDevs(void) {
  for (TMeasCh& ch : Dev.ch) {
    clearData(&ch.pStat);
    clearData(&ch.iStat);
    ch.pStat.holdLeftS = -2;
  }
  return 0;
}

QUARN_API int32_t StatValue_ClearAll(void) {
  clearData(&Dev.refStat);
  return StatValue_ClearDevs();
}

QUARN_API int32_t StatValue_ParamUpdate(TStatValue* s, uint32_t, float band, float hold) {
  if (!s) return 0;
  std::memset(s, 0, sizeof *s);
  s->stableBand = band;
  // A hold time that is no number or does not fit leaves the hold time 0.
  s->holdMs = (hold >= 0.0f && hold < 4294967296.0f) ? static_cast<uint32_t>(hold) : 0u;
  return 0;
}

QUARN_API void CalcStat_MinMax(TStatValue* s, float seed) {
  if (!s) return;
  s->min = seed;
  s->max = seed;
  if (s->count == 1) return;
  const int32_t w = usableWindow(s);
  for (int32_t i = 0; i < w; ++i) {
    if (!s->slots[i].valid) continue;
    const float v = s->slots[i].value;
    if (v < s->min) s->min = v;
    if (v > s->max) s->max = v;
  }
}

QUARN_API int32_t StatValue_isValTolerance(TStatValue* s, float x) {
  if (!s) return 0;
  return (s->target - s->stableBand <= x && x <= s->target + s->stableBand) ? 1 : 0;
}

QUARN_API int32_t StatValue_AddValue(TStatValue* s, float v) {
  if (!s || StatValue_isNan(v)) return -1;
  const uint32_t now = StatValue_get_mS();

  if (s->count != 0) s->prevValue = s->value;
  s->value = v;

  // A record without a usable window holds no sample and never becomes ready.
  const int32_t w = usableWindow(s);
  if (w < 1) {
    s->count = 0;
    s->inCorridor = s->ready = 0;
    resetHold(s, static_cast<uint32_t>(-2));
    return 0;
  }
  if (s->count < w) ++s->count;

  const int32_t idx = (s->last >= 0 && s->last < w - 1) ? s->last + 1 : 0;
  s->last = idx;
  s->slots[idx].valid = 1;
  s->slots[idx].value = v;
  s->slots[idx].tick = now;

  if (s->count == 1) {
    s->min = s->max = v;
  } else {
    if (v > s->max) s->max = v;
    if (v < s->min) s->min = v;
  }

  // Mean and spread over the samples the ring holds.
  double sum = 0.0;
  int32_t held = 0;
  for (int32_t i = 0; i < w; ++i) {
    if (!s->slots[i].valid) continue;
    sum += s->slots[i].value;
    ++held;
  }
  s->mean = static_cast<float>(sum / held);
  if (s->count > 1) {
    double sq = 0.0;
    for (int32_t i = 0; i < w; ++i)
      if (s->slots[i].valid) sq += StatValue_pow2(s->slots[i].value - s->mean);
    // The divisor is count squared minus one (not count minus one): the spread of the mean.
    const double n = static_cast<double>(held);
    s->sd = static_cast<float>(std::sqrt(sq / (n * n - 1.0)));
  }

  const float lo = s->target - s->readyCorridor;
  const float hi = s->target + s->readyCorridor;
  const uint8_t inCorridor = (s->mean > lo && v > lo && hi > v && hi > s->mean) ? 1 : 0;
  if (inCorridor != s->inCorridor) s->corridorChanged = 1;
  s->inCorridor = inCorridor;

  if (s->count <= 1) {
    // A single sample never counts as settled.
    s->inCorridor = 0;
    s->ready = 0;
    resetHold(s, static_cast<uint32_t>(-2));
    return 0;
  }

  const bool steady = std::fabs(s->mean - v) < s->stableBand && std::fabs(s->prevValue - v) < s->stableBand;
  if (steady && !s->holding) {
    s->holdStart = now;
    s->holdEnd = now + s->holdMs;
    s->holdLeftS = static_cast<int32_t>(s->holdMs / 1000u);
    s->holding = 1;
  } else if (steady) {
    // Wrap-safe: the hold ends when the tick has reached holdEnd, also across the 32-bit wrap.
    if (!quarn_tick_reached(now, s->holdEnd)) {
      s->holdLeftS = static_cast<int32_t>((s->holdEnd - now) / 1000u);
    } else {
      s->stable = 1;
      s->holdLeftS = 0;
    }
  } else {
    resetHold(s, 0);
    s->holdLeftS = -2;
  }

  // Speed between the two newest samples of the ring (not across the ring's wrap).
  if (idx > 1 && s->slots[idx - 1].valid) {
    const int32_t dt = static_cast<int32_t>(s->slots[idx].tick - s->slots[idx - 1].tick);
    if (dt != 0) s->speed = (v - s->slots[idx - 1].value) / (static_cast<float>(dt) / 1000.0f);
  }

  s->ready = (s->inCorridor && s->stable) ? 1 : 0;
  return 0;
}

QUARN_API double Calc_U(int32_t ch) {
  if (ch < 0 || ch > 3) return NAN;
  return Calc_U_DD(&Dev.ch[ch].pStat, &Dev.refStat, 0, ch);
}

QUARN_API uint32_t dbg_measTime_start(void) {
  Dev.measTimeStart = Dev.tick;
  return Dev.tick;
}

QUARN_API uint32_t dbg_measTime_end(void) {
  const uint32_t start = Dev.measTimeStart;
  Dev.measTimeStart = 0;
  return start;
}

QUARN_API uint32_t Debug_statTimerTest(void) {
  if (Dev.measTimeStart != 0)
    StatValue_AddValue(&Dev.cycleStat, static_cast<float>(Dev.tick - Dev.measTimeStart));
  Dev.measTimeStart = Dev.tick;
  return Dev.tick;
}

}  // extern "C"
