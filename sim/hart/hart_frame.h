// HART frames on the device side: parsing a master's request and building the slave's answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarnsim::hart {

// Delimiter fields: bit 7 long address, bits 5-6 number of expansion bytes, bits 3-4 physical layer
// (0: asynchronous FSK), bits 0-2 frame type (2: master to slave, 6: slave to master).
constexpr uint8_t kFrameTypeMask = 0x07;
constexpr uint8_t kMasterToSlave = 0x02;
constexpr uint8_t kSlaveToMaster = 0x06;
constexpr uint8_t kLongAddressBit = 0x80;
constexpr size_t kMaxFrame = 1 + 5 + 3 + 1 + 1 + 255 + 1;  // delimiter .. checksum

// A request a device can act on: a master-to-slave frame over the asynchronous physical layer.
bool isRequestDelimiter(uint8_t delimiter);
size_t addressLength(uint8_t delimiter);
size_t expansionLength(uint8_t delimiter);
// Bytes from the delimiter through the byte count.
size_t headerLength(uint8_t delimiter);

struct Request {
  uint8_t delimiter = 0;
  bool longAddress = false;
  uint8_t address[5] = {};  // short frames use address[0]
  uint8_t command = 0;
  std::vector<uint8_t> data;
};

enum class ParseResult { Ok, NoFrame, Truncated, BadChecksum, NotARequest };

// Parses one request: any number of leading 0xFF preamble bytes, then the delimiter through the
// checksum; bytes after the checksum are ignored.
ParseResult parseRequest(const uint8_t* bytes, size_t n, Request& out);

// The slave's answer to `request`: preambles, delimiter, the request's address echoed, command, byte
// count, the two status bytes, data, checksum.
std::vector<uint8_t> buildAnswer(const Request& request, size_t preambles, uint8_t responseCode,
                                 uint8_t deviceStatus, const std::vector<uint8_t>& data);

}  // namespace quarnsim::hart
