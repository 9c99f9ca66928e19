// What the HART procedures share: the channel select to the Kesto module, the check of its answer
// and the scheduling words the procedures are written in.
#pragma once

#include <cstdint>

#include "calibrator/calibrator.h"
#include "hart/hart_master.h"
#include "hart/hart_procedures.h"
#include "quarn_core.h"
#include "serial/serial_port.h"
#include "steps.h"
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

// The answer check with repeats: true for a good answer. Otherwise one repeat is spent: while one
// was left the last request goes out again and the caller stays in its step (runs again at the next
// timer call); when the budget is used up `onFail` is scheduled and errCode 6 reported. An answer
// that carries an error code does not renew the budget, so a module that keeps refusing the select
// cannot keep the procedure repeating for ever.
bool kestoAnswerOkWithRepeats(TStepFn onFail);

// The set points of the current check, mA.
inline constexpr float kSetPoints[3] = {4.0f, 12.0f, 20.0f};

}  // namespace quarn::hartproc
