// What the HART procedures share: the channel select to the Kesto module, the check of its answer
// and the scheduling words the procedures are written in.
#pragma once

#include <cstdint>

#include "calibrator/calibrator.h"
#include "calibrator/verification.h"
#include "core/quarn_core.h"
#include "core/step_chain.h"
#include "hart/hart_master.h"
#include "hart/hart_procedures.h"
#include "serial/serial_port.h"
#include "uail/uail.h"

namespace quarn::hartproc {

// UAIL module address of the Kesto module and its channel-select request.
inline constexpr uint8_t kKestoAddress = 3;
inline constexpr uint8_t kRqSelectChannel = 5;
inline constexpr int32_t kChannels = 4;

// Schedules `step` to run at once, inside the caller.
inline void now(TStepFn step) { ToNext(step, 0); }
// Schedules `step` after `ms`.
inline void after(TStepFn step, uint32_t ms) { ToNext(step, ms); }

inline bool validChannel(int32_t ch) { return ch >= 0 && ch < kChannels; }
inline bool usable(int32_t ch) { return Dev.chSkip[ch] == 0; }

// Selects a channel for HART (see Kesto_SelectHARTch).
uint32_t selectChannel(int32_t ch);

// True when an answer without error code came from the Kesto module.
bool kestoAnswerOk();

// The answer check with repeats, for the step `self` that runs `windowMs` after a channel select:
// true for a good answer. Otherwise one repeat is spent: while one was left the last request goes out
// again and `self` runs again after the same `windowMs`, so every repeat gets the answer window of
// the first request; when the budget is used up `onFail` is scheduled and errCode 6 reported. An
// answer that carries an error code does not renew the budget, so a module that keeps refusing the
// select cannot keep the procedure repeating for ever.
bool kestoAnswerOkWithRepeats(TStepFn self, uint32_t windowMs, TStepFn onFail);

// The answer to the last HART request, taken by the step `self` that runs `windowMs` after it.
enum class Reply {
  Good,   // decoded with response code 0 (HART_Rx gives 1)
  Busy,   // the device is busy with an earlier request: the request is being repeated, return now
  Other,  // no answer, a broken frame, or a refusal (reported as HART_Rx reports it)
};
// Takes the answer as HART_Rx does. A device that answers "busy" (response code 32) has not carried
// the request out: while the task's repeat budget allows, "busy" is shown as a warning (errCode 2),
// the same request goes out again after a short pause and `self` runs again `windowMs` later; the
// caller returns at once. Once the budget is used up a busy answer counts as any refusal.
Reply hartReply(TStepFn self, uint32_t windowMs);

// The answer taker of a chain step (see core/step_chain.h): the reply is taken as hartReply takes it;
// false while a busy device is being asked again (the step is done), true for any other reply.
inline bool replied(TStepFn self, uint32_t windowMs) { return hartReply(self, windowMs) != Reply::Busy; }

// The set points of the current check, mA.
inline constexpr float kSetPoints[3] = {4.0f, 12.0f, 20.0f};

}  // namespace quarn::hartproc
