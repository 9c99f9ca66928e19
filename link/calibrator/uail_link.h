// The calibrator procedures' view of the UAIL link: one answer per step, the module address, the
// requests, and the repeat budget.
#pragma once

#include <cstdint>
#include <string_view>

#include "calibrator/link_deps.h"

namespace quarn::cal {

// UAIL module addresses.
inline constexpr uint8_t kAddrCalibrator = 1;
inline constexpr uint8_t kAddrKesto = 3;

// What one look at the current port found.
struct Answer {
  bool received = false;  // some bytes came in since the last look
  bool complete = false;  // a complete answer frame (with or without an error code)
  bool ok = false;        // complete and without an error code
  std::string_view text;  // the answer's data fields (empty unless complete)
  uint8_t from = 0;       // module address the complete answer carries
  int32_t budgetBefore = 0;
};

// Takes what waits on the current port and looks for one answer (the receiver renews the repeat
// budget when it finds a complete frame). After awaitAnswer in a task with early answers: what the
// looks collected, with what came since.
Answer takeAnswer();

// Answers of the running task taken as soon as they have ended instead of after each step's fixed
// window (uail_answer_wait.cpp): on for the task running now (the fast HART search asks for it), off
// again when a new task starts or `on` is false.
void answerEarlyInThisTask(bool on);
bool earlyAnswers();
// Schedules `step` to take the answer to the request just sent: after `windowMs`, or with early
// answers at the next look at the port.
void awaitAnswer(TStepFn step, uint32_t windowMs);
// In the step `self` that awaitAnswer scheduled: false while early answers are on and the answer has
// neither ended nor run out of its window; `self` then looks again later (return at once). True
// otherwise: takeAnswer takes it.
bool answerEnded(TStepFn self);

// What a step does with an answer it does not accept: repeat a request (the step `again` then takes
// up its answer) or end the procedure.
using Retry = void (*)(const Answer& a, TStepFn again);

// The answer taker of a chain step (see core/step_chain.h): takes the answer to the previous request
// (into `out` when given); true when it is good, otherwise it goes to `retry` and the step is done.
bool goodAnswer(Retry retry, TStepFn again, Answer* out = nullptr);

// One attempt of the repeat budget is used up because the step does not accept `a`. An answer the
// step refuses does not renew the budget, so a device that keeps refusing a request cannot keep a
// procedure repeating forever. True while attempts are left (budget still 1 or more).
bool spendRepeat(const Answer& a);

// The calibrator's own port becomes the current one (a Dorv step interrupted by a new task may have
// left the transducer's port current) and the requests go to `addr` on it.
void useCalibratorPort(uint8_t addr);

// Module address of the following requests.
void address(uint8_t addr);
uint8_t currentAddress();

// Requests on the current port to the current address.
void send(uint8_t type);
void sendInt(uint8_t type, int32_t value);
void sendInts(uint8_t type, int32_t a, int32_t b);
void sendText(uint8_t type, const char* data);
void sendFloatHex(uint8_t type, float value);
void sendRegisterRead(uint8_t reg);
void sendFileOpen(int32_t fileNo);
void sendFileSeek(int32_t position);
void sendFileRead(int32_t count);
void sendFileWrite(const void* bytes, int32_t count);
// The last request frame again, unchanged.
void repeatLastRequest();

// Schedules a step: after `ms` (0 = at the next timer call).
void next(TStepFn step, uint32_t ms = 0);

}  // namespace quarn::cal
