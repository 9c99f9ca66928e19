#include "hart_frame.h"

#include <algorithm>

#include "hart_codec.h"

namespace quarnsim::hart {

bool isRequestDelimiter(uint8_t delimiter) {
  return (delimiter & kFrameTypeMask) == kMasterToSlave && (delimiter & 0x18) == 0;
}

size_t addressLength(uint8_t delimiter) { return (delimiter & kLongAddressBit) ? 5 : 1; }

size_t expansionLength(uint8_t delimiter) { return (delimiter >> 5) & 0x03; }

size_t headerLength(uint8_t delimiter) {
  return 1 + addressLength(delimiter) + expansionLength(delimiter) + 2;
}

ParseResult parseRequest(const uint8_t* bytes, size_t n, Request& out) {
  size_t pos = 0;
  while (pos < n && bytes[pos] == 0xFF) ++pos;
  if (pos >= n) return ParseResult::NoFrame;
  const size_t start = pos;
  const uint8_t delimiter = bytes[pos];
  if (!isRequestDelimiter(delimiter)) return ParseResult::NotARequest;
  const size_t header = headerLength(delimiter);
  if (n - start < header) return ParseResult::Truncated;
  const size_t count = bytes[start + header - 1];
  if (n - start < header + count + 1) return ParseResult::Truncated;
  const size_t checksumAt = start + header + count;
  if (checksum(bytes + start, header + count) != bytes[checksumAt]) return ParseResult::BadChecksum;

  out = Request{};
  out.delimiter = delimiter;
  out.longAddress = (delimiter & kLongAddressBit) != 0;
  std::copy_n(bytes + start + 1, addressLength(delimiter), out.address);
  out.command = bytes[start + header - 2];
  out.data.assign(bytes + start + header, bytes + checksumAt);
  return ParseResult::Ok;
}

std::vector<uint8_t> buildAnswer(const Request& request, size_t preambles, uint8_t responseCode,
                                 uint8_t deviceStatus, const std::vector<uint8_t>& data) {
  const size_t count = std::min<size_t>(data.size(), 253);
  // Preambles, delimiter, address, command, byte count, the two status bytes, data, checksum: the
  // answer's size is known, so it is made in one piece.
  const size_t addressLength = request.longAddress ? 5 : 1;
  std::vector<uint8_t> out;
  out.reserve(preambles + 1 + addressLength + 2 + 2 + count + 1);
  out.assign(preambles, 0xFF);
  const size_t start = out.size();
  out.push_back(static_cast<uint8_t>((request.longAddress ? kLongAddressBit : 0) | kSlaveToMaster));
  out.insert(out.end(), request.address, request.address + addressLength);
  out.push_back(request.command);
  out.push_back(static_cast<uint8_t>(count + 2));
  out.push_back(responseCode);
  out.push_back(deviceStatus);
  out.insert(out.end(), data.begin(), data.begin() + static_cast<long>(count));
  out.push_back(checksum(out.data() + start, out.size() - start));
  return out;
}

}  // namespace quarnsim::hart
