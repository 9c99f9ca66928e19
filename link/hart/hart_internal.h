// Internals of the HART master shared between its files and visible to its tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/TDev.h"

namespace quarn::hart {

// Zeroes the receive fields of a record, rxDelimiter through responseText.
void clearReceiveFields(THartDev* dev);

// How far received bytes are towards one answer frame as Hart_DeForm reads them (its first 255
// bytes): no 0xFF yet; preamble bytes but no delimiter; the delimiter but not yet the byte count;
// the byte count with `missing` bytes still to come; or every byte Hart_DeForm reads (also for a
// frame it refuses on its byte count, whatever follows). While the frame is not whole, Hart_DeForm
// cannot decode it.
struct AnswerProgress {
  enum Stage { NoFrame, Preamble, Header, Body, Whole } stage;
  uint32_t missing;  // Preamble, Header: the fewest bytes that can still make a frame; Body: exactly
};
AnswerProgress answerProgress(const uint8_t* bytes, uint32_t count);

// Factor that brings a value in a HART pressure unit to kPa: HART_to_kPa_factor's, and for the
// pressure units that table takes as kPa (mbar, psia, inches and feet of water, ...) their real
// factor. 1.0 for kPa and for codes that are not pressure units.
float pressureFactorKPa(uint32_t unitsCode);

// The two halves of HART_Rx. receiveAnswer reads what waits on the port and parses it into *hdi
// (Hart_DeForm's result: 0 a good answer, the response code of a decoded refusal, negative for no or
// a broken frame). concludeAnswer reports that result as HART_Rx does and returns HART_Rx's value.
int32_t receiveAnswer();
int32_t concludeAnswer(int32_t parsed);

// Writes the last request frame again, byte for byte (nothing when the last one was refused).
int32_t repeatLastRequest();

// Requests whose write was started so far, and the tick at which the last one's last byte will have
// left the port (the write started at once, at the line's speed).
uint32_t requestsSent();
uint32_t lastRequestEndMs();

// Rows of the device-type catalogue, in ascending type order.
size_t deviceTypeCount();
uint16_t deviceTypeAt(size_t i);

}  // namespace quarn::hart
