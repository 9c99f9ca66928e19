// The verification run's calculations: the uncertainty of a recorded point, the range check of the
// devices under test, the stability bands from the channel spans and the setpoint text.
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "calibrator/calibrator.h"
#include "calibrator/link_deps.h"
#include "calibrator/verification.h"
#include "quarn/cp1251.h"

namespace {

constexpr float kNoTextBelow = -9e30f;
constexpr int32_t kMaxDecimals = 9;

double sq(double x) { return x * x; }

// Base error of the reference module: a share of its upper limit R, or of the pressure Pm itself
// in the upper part of the range for the models that specify it so.
float referenceBaseError(float pm, float r, int32_t model) {
  if (std::fabs(pm / r) <= 0.4f) return model == 0 || model == 1 ? 0.0001f * r : 0.0002f * r;
  if (model == 0) return 0.0001f * r;
  if (model == 1) return 0.00025f * pm;
  return 0.0005f * pm;
}

// The record a range-check block belongs to: the block is the verification control block, which
// starts at povMode.
TDev& recordOfBlock(void* block) {
  if (!block) return Dev;
  return *reinterpret_cast<TDev*>(static_cast<char*>(block) - offsetof(TDev, povMode));
}

int32_t rangeError(uint32_t code, const char* text, int32_t result) {
  Dev.errCode = code;
  Dev.errText = text;
  Update();
  return result;
}

}  // namespace

extern "C" {

QUARN_API double Calc_U_DD(TStatValue* chStat, TStatValue* refStat, int32_t model, int32_t ch) {
  if (!chStat || !refStat) return NAN;
  const float r = Dev.refUpper;
  double uRef = 0.0;
  if (r != 0.0f) {
    const float d = referenceBaseError(refStat->max, r, model);
    const double spread = (static_cast<double>(refStat->max) - refStat->min) / 3.4641016;
    uRef = std::sqrt(sq(d / 3.0) + sq(refStat->sd) + sq(spread));
  }
  double channelPart = 0.0;
  const TDevChannel* dc = (ch >= 0 && ch < 4) ? &Dev.devCh[ch] : nullptr;
  const double s = dc ? static_cast<double>(dc->el_Max) - dc->el_Min : 0.0;
  if (Dev.povSpan != 0.0f && s != 0.0) {
    const float d = static_cast<float>(((0.0001 * dc->el_Max + 1.0) * 0.001) / ((s * 3.0) / Dev.povSpan));
    channelPart = sq(d) + sq(chStat->sd);
  }
  return std::sqrt(sq(uRef) + channelPart);
}

QUARN_API int32_t DiapIsBad(void* block) {
  TDev& dev = recordOfBlock(block);
  int first = -1;
  for (int c = 0; c < 4 && first < 0; ++c)
    if (dev.devCh[c].enabled) first = c;
  if (first < 0) return rangeError(ERR_NO_DEVICES, CP1251("Нет подключенных\tустройств"), -1);

  const float lo = dev.devCh[first].MinKpa;
  const float hi = dev.devCh[first].MaxKpa;
  const float span = hi - lo;
  const float tol = 0.05f * std::fabs(span);
  for (int c = first; c < 4; ++c) {
    const TDevChannel& dc = dev.devCh[c];
    if (!dc.enabled) continue;
    // A limit that is no finite number passes every comparison below (and fmin/fmax pass over a
    // NaN); such a range is as undefined as an empty one and must not go into the run.
    if (!std::isfinite(dc.MinKpa) || !std::isfinite(dc.MaxKpa) || !std::isfinite(span))
      return rangeError(ERR_RANGES_UNSET, CP1251("Диапазоны приборов не определены"), -4);
    // A range may run downwards (Min above Max: a vacuum or reverse-acting device); its upper end is
    // then its Min.
    const float lower = std::fmin(dc.MinKpa, dc.MaxKpa);
    const float upper = std::fmax(dc.MinKpa, dc.MaxKpa);
    if (upper > dev.calInfo.pLimitMax || lower < dev.calInfo.pLimitMin)
      return rangeError(ERR_RANGE_EXCEEDS, CP1251("Диапазон\tприбора\tпревышает диапазон Brenk!"), -2);
    // Both ends within 5 % of the first device's, on either side: the run's points span the first
    // device's range, so a device whose range is narrower by more than that would be taken beyond
    // its own limits (the host's parameter check refuses it alike).
    if (dc.MaxKpa > hi + tol || dc.MaxKpa < hi - tol || dc.MinKpa < lo - tol || dc.MinKpa > lo + tol)
      return rangeError(ERR_RANGES_DIFFER, CP1251("Диапазоны приборов не совпадают!"), -3);
  }
  if (lo == hi) return rangeError(ERR_RANGES_UNSET, CP1251("Диапазоны приборов не определены"), -4);
  // The points run from the first device's Min (0 %) to its Max (100 %), downwards for a range that
  // runs downwards; every band takes the span's size.
  dev.povLo = lo;
  dev.povSpan = span;
  return 0;
}

QUARN_API void update_maxDeviation(void) {
  float lastSpan = 0.0f;
  bool anyEnabled = false;
  for (int c = 0; c < 4; ++c) {
    const TDevChannel& dc = Dev.devCh[c];
    if (!dc.enabled) continue;
    anyEnabled = true;
    lastSpan = std::fabs(dc.MaxKpa - dc.MinKpa);
    if (lastSpan != 0.0f) Dev.ch[c].pStat.stableBand = Dev.povHeader.dRdy / 100.0f * lastSpan;
  }
  const float s = (anyEnabled && lastSpan != 0.0f) ? lastSpan : Dev.calInfo.span;
  Dev.refStat.stableBand = s * Dev.settings.readyBand1 / 100.0f;
}

QUARN_API void update_str_Ptgt_xx(void) {
  const float v = Dev.pTarget * Dev.settings.unitFactor;
  if (v < kNoTextBelow) {
    std::snprintf(Dev.pTargetText, sizeof Dev.pTargetText, "\t");
    return;
  }
  int32_t decimals = Dev.settings.decimals;
  if (decimals < 0) decimals = 0;
  if (decimals > kMaxDecimals) decimals = kMaxDecimals;
  char format[16];
  std::snprintf(format, sizeof format, "%%.%df", static_cast<int>(decimals));
  char text[64];
  const int n = std::snprintf(text, sizeof text, format, static_cast<double>(v));
  // A value whose text does not fit the field shows as missing rather than cut to wrong digits.
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof Dev.pTargetText)
    std::snprintf(Dev.pTargetText, sizeof Dev.pTargetText, "- - - -");
  else
    std::memcpy(Dev.pTargetText, text, static_cast<std::size_t>(n) + 1);
}

}  // extern "C"
