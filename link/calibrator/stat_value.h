/* Running statistics and readiness test of one measured quantity (TStatValue of the shared record).
 *
 * Every quantity whose steadiness matters gets one sample per measuring cycle: the reference
 * pressure (Dev.refStat), the cycle period (Dev.cycleStat) and, per channel, the pressure computed
 * from the current (ch[k].pStat) and the current itself (ch[k].iStat). A record keeps a ring of the
 * last `window` samples and derives mean, spread, extremes, speed of change, whether the value lies
 * in the corridor around `target`, and whether it stayed steady for `holdMs`. */
#ifndef QUARN_CALIBRATOR_STAT_VALUE_H
#define QUARN_CALIBRATOR_STAT_VALUE_H

#include <stdint.h>

#include "core/TDev.h"
#include "platform/quarn_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A sample beyond these limits (or NaN) is no value. */
#define STAT_VALUE_LIMIT 9e30f

/* Adds a sample: 0, or -1 when the sample is NaN or beyond +-9e30 (the record is then unchanged). */
QUARN_API int32_t StatValue_AddValue(TStatValue* s, float v);
/* Zeroes the whole record, parameters included. Result 0. */
QUARN_API int32_t StatValue_Init(TStatValue* s);
/* Zeroes the data (samples, flags, results, hold fields) and keeps the parameters (target, holdMs,
 * stableBand, readyCorridor, window). Result 0. */
QUARN_API int32_t StatValue_Clear(TStatValue* s);
/* Clears Dev.refStat and every channel's pStat and iStat as StatValue_Clear does, then sets each
 * pStat.holdLeftS to -2. Result 0. */
QUARN_API int32_t StatValue_ClearAll(void);
/* The channel part of StatValue_ClearAll only. Result 0. */
QUARN_API int32_t StatValue_ClearDevs(void);
/* Zeroes the whole record, then stableBand = band and holdMs = hold (truncated). Result 0. */
QUARN_API int32_t StatValue_ParamUpdate(TStatValue* s, uint32_t unused, float band, float hold);
/* Extremes over the ring: min = max = seed; unless count is 1 every valid slot among the first
 * `window` widens them. */
QUARN_API void CalcStat_MinMax(TStatValue* s, float seed);
/* 1 when target - stableBand <= x <= target + stableBand. */
QUARN_API int32_t StatValue_isValTolerance(TStatValue* s, float x);
/* 1 when x is NaN, below -9e30 or above 9e30. */
QUARN_API int32_t StatValue_isNan(float x);
/* x squared. */
QUARN_API double StatValue_pow2(float x);
/* The millisecond tick samples are stamped with. */
QUARN_API uint32_t StatValue_get_mS(void);
/* Square root of the sum of the six squares. */
QUARN_API double Z_x2(float a, float b, float c, float d, float e, float f);
/* Uncertainty (kPa) of channel ch (0..3) from its pStat and refStat; NaN when the channel index is
 * out of range. */
QUARN_API double Calc_U(int32_t ch);

/* ---- Measuring-cycle period (Dev.cycleStat) ----------------------------------------------------- */

/* measTimeStart = tick; returns tick. */
QUARN_API uint32_t dbg_measTime_start(void);
/* Returns measTimeStart and sets it to 0. */
QUARN_API uint32_t dbg_measTime_end(void);
/* Adds the cycle period (tick - measTimeStart) to cycleStat when a cycle was started; then
 * measTimeStart = tick. Returns tick. */
QUARN_API uint32_t Debug_statTimerTest(void);

#ifdef __cplusplus
}
#endif

#endif /* QUARN_CALIBRATOR_STAT_VALUE_H */
