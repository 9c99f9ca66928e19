// The device side of the calibrator's UAIL line protocol: the checksum, the field encodings, the
// answer frames a module sends and the receiver that assembles the host's request frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarnsim::uail {

// CRC-16 with the reflected polynomial 0xA001, start 0xFFFF, no final inversion (the MODBUS CRC).
uint16_t crc16(std::string_view text);

// A 32-bit value as eight upper-case hexadecimal digits, least significant byte first
// (1.0f -> "0000803F").
std::string hexU32(uint32_t bits);
std::string hexFloat(float value);
// The reverse; nullopt unless the text is exactly eight upper-case hexadecimal digits.
std::optional<uint32_t> parseHexU32(std::string_view text);
std::optional<float> parseHexFloat(std::string_view text);
// Bytes as two upper-case hexadecimal digits each, in order, and back (nullopt on a bad digit or an
// odd number of digits).
std::string hexBytes(const uint8_t* data, size_t n);
std::optional<std::vector<uint8_t>> parseHexBytes(std::string_view text);
// A decimal integer that fills the whole text (optional sign).
std::optional<long> parseInt(std::string_view text);

// A request frame as the host builds it: 0xFF, ":", payload, decimal CRC of the payload, CR.
std::vector<uint8_t> requestFrame(std::string_view payload);
// An answer frame: "!", then `body` (address, ";", optional "$code;", data fields each ending in ";"),
// the decimal CRC of `body`, CR.
std::vector<uint8_t> answerFrame(std::string_view body);

// One request as the device understood it.
struct Request {
  int address = 0;
  int type = 0;
  std::vector<std::string> fields;  // data fields after the type, without their separators
  std::string payload;              // address up to the last ";"
};

// Assembles request frames from the bytes on the line. A frame starts at ":" (the wake-up byte and
// anything else before it are skipped) and ends at CR; a frame that is too long, holds a byte that
// cannot be part of a request, or does not parse is dropped silently. A frame whose checksum is
// wrong but whose address reads is reported so that the addressed module can refuse it.
class RequestReceiver {
 public:
  static constexpr size_t kMaxFrame = 512;

  struct Result {
    enum class Kind { Request, BadChecksum } kind = Kind::Request;
    Request request;  // for BadChecksum only `address` is set
  };

  // Feeds one byte; a result when it completed a frame.
  std::optional<Result> feed(uint8_t byte);
  void reset();

 private:
  std::string text_;
  bool inFrame_ = false;
};

}  // namespace quarnsim::uail
