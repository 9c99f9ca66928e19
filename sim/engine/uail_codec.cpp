#include "quarnsim/uail_codec.h"

#include <cstring>

namespace quarnsim::uail {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool digitsOnly(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

uint16_t crc16(std::string_view text) {
  uint16_t crc = 0xFFFF;
  for (unsigned char byte : text) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

std::string hexU32(uint32_t bits) {
  std::string out;
  for (int i = 0; i < 4; ++i) {
    const uint8_t byte = static_cast<uint8_t>(bits >> (8 * i));
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
  }
  return out;
}

std::string hexFloat(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return hexU32(bits);
}

std::optional<uint32_t> parseHexU32(std::string_view text) {
  if (text.size() != 8) return std::nullopt;
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) {
    const int hi = hexDigit(text[2 * i]);
    const int lo = hexDigit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bits |= static_cast<uint32_t>(hi * 16 + lo) << (8 * i);
  }
  return bits;
}

std::optional<float> parseHexFloat(std::string_view text) {
  const auto bits = parseHexU32(text);
  if (!bits) return std::nullopt;
  float value;
  std::memcpy(&value, &*bits, sizeof value);
  return value;
}

std::string hexBytes(const uint8_t* data, size_t n) {
  std::string out;
  out.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    out += kHex[data[i] >> 4];
    out += kHex[data[i] & 15];
  }
  return out;
}

std::optional<std::vector<uint8_t>> parseHexBytes(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = hexDigit(text[i]);
    const int lo = hexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return out;
}

std::optional<long> parseInt(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (!digitsOnly(text) || text.size() > 9) return std::nullopt;
  long value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return negative ? -value : value;
}

std::vector<uint8_t> requestFrame(std::string_view payload) {
  std::string frame = "\xFF:";
  frame.append(payload).append(std::to_string(crc16(payload))).push_back('\r');
  return {frame.begin(), frame.end()};
}

std::vector<uint8_t> answerFrame(std::string_view body) {
  std::string frame = "!";
  frame.append(body).append(std::to_string(crc16(body))).push_back('\r');
  return {frame.begin(), frame.end()};
}

void RequestReceiver::reset() {
  text_.clear();
  inFrame_ = false;
}

std::optional<RequestReceiver::Result> RequestReceiver::feed(uint8_t byte) {
  if (byte == ':') {  // a start mark always begins a new frame
    text_.clear();
    inFrame_ = true;
    return std::nullopt;
  }
  if (!inFrame_) return std::nullopt;
  if (byte != '\r') {
    if (byte < 0x21 || byte > 0x7E || text_.size() >= kMaxFrame) {
      reset();  // not a request: wait for the next start mark
      return std::nullopt;
    }
    text_ += static_cast<char>(byte);
    return std::nullopt;
  }

  const std::string text = std::move(text_);
  reset();
  const size_t lastSep = text.rfind(';');
  if (lastSep == std::string::npos) return std::nullopt;
  const std::string_view payload(text.data(), lastSep + 1);
  const std::string_view checksum = std::string_view(text).substr(lastSep + 1);

  // Split the payload: address; type; fields...
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i < payload.size(); ++i) {
    if (payload[i] == ';') {
      parts.emplace_back(payload.substr(start, i - start));
      start = i + 1;
    }
  }
  if (parts.empty() || !digitsOnly(parts[0]) || parts[0].size() > 3) return std::nullopt;

  Result result;
  result.request.address = static_cast<int>(*parseInt(parts[0]));
  if (!digitsOnly(checksum) || checksum.size() > 5 || *parseInt(checksum) != crc16(payload)) {
    result.kind = Result::Kind::BadChecksum;
    return result;
  }
  if (parts.size() < 2 || !digitsOnly(parts[1]) || parts[1].size() > 3) return std::nullopt;
  result.request.type = static_cast<int>(*parseInt(parts[1]));
  result.request.fields.assign(parts.begin() + 2, parts.end());
  result.request.payload = std::string(payload);
  return result;
}

}  // namespace quarnsim::uail
