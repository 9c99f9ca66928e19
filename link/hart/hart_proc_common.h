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
// The same for the device search's channel select, whose answer a fast search takes as soon as it
// is complete (selectAnswerReady, selectAnswerOk).
bool searchSelectAnswerOkWithRepeats(TStepFn self, uint32_t windowMs, TStepFn onFail);

// The answer to the last HART request, taken by the step `self` that runs `windowMs` after it.
enum class Reply {
  Good,     // decoded with response code 0 (HART_Rx gives 1)
  Busy,     // the device is busy with an earlier request: the request is being repeated, return now
  Other,    // no answer, a broken frame, or a refusal (reported as HART_Rx reports it)
  Pending,  // fast search only: the answer is still coming and `self` looks again later, return now
};
// Takes the answer as HART_Rx does. A device that answers "busy" (response code 32) has not carried
// the request out: while the task's repeat budget allows, "busy" is shown as a warning (errCode 2),
// the same request goes out again after a short pause and `self` runs again `windowMs` later; the
// caller returns at once. Once the budget is used up a busy answer counts as any refusal.
Reply hartReply(TStepFn self, uint32_t windowMs);
// The same for an answer already parsed into hdi (Hart_DeForm's result).
Reply hartReplyParsed(int32_t parsed, TStepFn self, uint32_t windowMs);

// The device search's answer windows (hart_answer_wait.cpp). A search started while the host's fast
// setting is on (quarn_hart_set_fast_search) takes each answer as soon as its frame is complete and
// ends a request without answer when the device's time to begin one has passed; any other task, and
// a search with the setting off, waits every fixed window. The search marks its start and end.
void startSearchWindows();
void endSearchWindows();
bool fastWindows();
// Schedules `next` to take the answer to the request just sent: after `windowMs`, or in a fast search
// from when the first bytes of an answer can be there.
void awaitAnswer(TStepFn next, uint32_t windowMs);
// Takes the answer in the step `self` scheduled by awaitAnswer: hartReply, or in a fast search the
// answer once its frame is complete (Reply::Pending while `self` has been scheduled to look again).
// Never later than `windowMs` after the request: what has arrived by then is taken as hartReply
// takes it.
Reply takeAnswer(TStepFn self, uint32_t windowMs);
// In a fast search: true when the last answer taken had bytes but no frame that could be decoded.
bool answerBroken();
// The Kesto module's answer to the search's channel select, the same way: awaitSelectAnswer
// schedules `next` after `windowMs`, or in a fast search soon; selectAnswerReady is false while a
// fast search still waits for the answer's end (`self` has been scheduled to look again; return
// now); selectAnswerOk then takes the answer as kestoAnswerOk does.
void awaitSelectAnswer(TStepFn next, uint32_t windowMs);
bool selectAnswerReady(TStepFn self);
bool selectAnswerOk();

// The answer taker of a chain step (see core/step_chain.h): the reply is taken as hartReply takes it;
// false while a busy device is being asked again (the step is done), true for any other reply.
inline bool replied(TStepFn self, uint32_t windowMs) { return hartReply(self, windowMs) != Reply::Busy; }

// The set points of the current check, mA.
inline constexpr float kSetPoints[3] = {4.0f, 12.0f, 20.0f};

}  // namespace quarn::hartproc
