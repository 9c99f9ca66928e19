// Internals shared by the UAIL files.
#pragma once

#include <cstdint>

namespace quarn::uail {

// True when the last RxUail found a complete answer (cleared by every RxUail).
bool lastAnswerComplete();

// What RxUail does with the bytes it read: the receiver starts afresh and takes `bytes` up to the
// first complete answer. Returns RxUail's result.
int32_t receive(const uint8_t* bytes, int32_t n);

// Parses a decimal integer the way "%d" reads one (leading blanks, optional sign, digits; stops at
// the first other character), refusing values outside the 32-bit range. False when no digit.
bool parseInt32(const char* text, int32_t* out);

}  // namespace quarn::uail
