/* The verification run (task 21 with povMode 0) and the relay check (task 21 with povMode 1).
 *
 * The run walks through the points of Dev.points: each point becomes the target of the readiness
 * corridors, the measuring cycle runs until the reference and every enabled channel have settled,
 * and one result record per point is taken. The relay check drives the pressure below, above and
 * again below each selected relay's switching point; the switching pressures themselves are
 * recorded by relayDataToDev at every Kesto reading. Both ride on the measuring cycle by pointing
 * its continuation (slot 2) at their own steps. Every name here is exported with C linkage. */
#ifndef QUARN_CALIBRATOR_VERIFICATION_H
#define QUARN_CALIBRATOR_VERIFICATION_H

#include <stdint.h>

#include "core/TDev.h"
#include "platform/quarn_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Verification run ---------------------------------------------------------------------------- */

/* First step of task 21: clears the results, sets point 0, checks the ranges and starts the cycle
 * with Check_1 as its continuation (or hands over to CheckRelay in relay mode). */
QUARN_API int32_t Check_start(void);
/* After every measuring cycle of the run: records the point once everything has settled. */
QUARN_API int32_t Check_1(void);
/* Last step: controlMode 0, retCode 14, notify, the success member of slot 4. */
QUARN_API int32_t Check_fin(void);
/* Entry point: (ok, err) into slot 4, Check_start at the next timer call. */
QUARN_API int32_t Begin_Check(TStepFn ok, TStepFn err);

/* Point k (0-based) becomes the current point: setpoint, statistics cleared, corridor targets. An
 * index outside the point table changes nothing. */
QUARN_API void SetStep(int32_t k);
/* Records the current values as result pointIdx. */
QUARN_API void AddPoint(void);
/* Records the current values as result k (0..199; any other index changes nothing). */
QUARN_API void AddCurentToResult(int32_t k);
/* Uncertainty in kPa of channel ch from its statistics and the reference's; model 0 is the one the
 * run uses. NaN for a missing statistics record. */
QUARN_API double Calc_U_DD(TStatValue* chStat, TStatValue* refStat, int32_t model, int32_t ch);
/* The run's acceptance test as a function (with the same resets when the reference has moved). */
QUARN_API int32_t IsAllOk(void);
/* The same over the sensor-trim flags, without the hard-mode and input-valve conditions. */
QUARN_API int32_t IsAllReady(void);
/* Range check of the enabled channels; `block` is &Dev.povMode (null: the library's record). 0 sets
 * povLo/povSpan; -1 no channel, -2 beyond the calibrator, -3 ranges differ, -4 no range (also for a
 * range that is not a finite number). A failure sets errCode/errText and notifies. */
QUARN_API int32_t DiapIsBad(void* block);
/* Stability bands of the channels and the reference from the channels' spans. */
QUARN_API void update_maxDeviation(void);
/* pTargetText: the setpoint in the display unit with settings.decimals decimals. */
QUARN_API void update_str_Ptgt_xx(void);

/* ---- Relay check --------------------------------------------------------------------------------- */

/* The relay under test (0 or 1). */
QUARN_API extern int32_t relayIdx;

QUARN_API int32_t CheckRelay(void);
QUARN_API int32_t CheckRelay_10(void);
QUARN_API int32_t CheckRelay_11(void);
QUARN_API int32_t CheckRelay_12(void);
QUARN_API int32_t CheckRelay_13(void);
QUARN_API int32_t CheckRelay_14(void);
QUARN_API int32_t CheckRelay_15(void);
QUARN_API int32_t CheckRelay_fin(void);
/* Evaluation of the contact inputs (Dev.relayInputs) after each good Kesto reading. */
QUARN_API void relayDataToDev(void);
/* The relay check's preparation without the start; once from record initialisation. It also arms
 * the first evaluation, which only takes the inputs as they are. */
QUARN_API void InitRelay(void);

#ifdef __cplusplus
}
#endif

#endif /* QUARN_CALIBRATOR_VERIFICATION_H */
