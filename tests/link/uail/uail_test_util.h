// Helpers of the UAIL tests: answer frames as a device sends them, and feeding bytes to a receiver.
#pragma once

#include <cstdint>
#include <string>

#include "uail/uail.h"

namespace quarn::test {

// Decimal CRC-16 of a text, as frames carry it.
inline std::string crcOf(const std::string& text) {
  return std::to_string(CalcMemCRC(text.data(), static_cast<uint16_t>(text.size())));
}

// "!" body CRC CR: the answer a device sends for `body` (address, optional error block, fields).
inline std::string answerFrame(const std::string& body) { return "!" + body + crcOf(body) + "\r"; }

// The request frame for a payload: 0xFF ':' payload CRC CR.
inline std::string requestFrame(const std::string& payload) {
  return std::string("\xFF:") + payload + crcOf(payload) + "\r";
}

// Feeds bytes; returns how many completed an answer.
inline int feed(const std::string& bytes, TUail* rx) {
  int completions = 0;
  for (char c : bytes) completions += UAIL_RxChar(static_cast<uint8_t>(c), rx);
  return completions;
}

inline std::string keptText(const TUail& rx) { return rx.buf ? std::string(rx.buf) : std::string(); }

}  // namespace quarn::test
