// HART request frames: the long-address request, the short-frame poll of command 0, the slave answer
// frame, the long address and the longitudinal parity that closes every frame.
#include <cstring>

#include "hart/hart_master.h"

namespace {

constexpr uint8_t kPreamble = 0xFF;
constexpr int kPreambleLength = 5;
constexpr uint8_t kDelimiterLongRequest = 0x82;
constexpr uint8_t kDelimiterShortRequest = 0x02;
constexpr uint8_t kDelimiterLongAnswer = 0x86;
constexpr uint8_t kDelimiterShortAnswer = 0x06;
constexpr uint8_t kPrimaryMaster = 0x80;
constexpr uint8_t kAddressBitsOfFirstByte = 0x3F;

uint8_t* putFloat(uint8_t* p, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  float2hex(bits, p);
  return p + 4;
}

bool recordValid(const THartDev* dev) { return check_DeviceInfo(dev) == 0; }

}  // namespace

extern "C" {

QUARN_API uint8_t rawHART[HART_FRAME_MAX];
QUARN_API THartDev* hdi = nullptr;

QUARN_API uint8_t calc_crcHART(const uint8_t* bytes, int32_t n) {
  uint8_t sum = 0;
  if (!bytes) return 0;
  for (int32_t i = 0; i < n; ++i) sum ^= bytes[i];
  return sum;
}

QUARN_API int32_t FormRq(uint8_t* buf, const uint8_t* address, uint32_t command, int32_t n,
                         const uint8_t* data) {
  if (!buf || !address) return -1;
  if (command > 255) return -2;
  if (n < 0 || n > 255 || (n > 0 && !data)) return -3;
  std::memset(buf, kPreamble, kPreambleLength);
  uint8_t* frame = buf + kPreambleLength;
  frame[0] = kDelimiterLongRequest;
  std::memcpy(frame + 1, address, 5);
  frame[6] = static_cast<uint8_t>(command);
  frame[7] = static_cast<uint8_t>(n);
  if (n > 0) std::memmove(frame + 8, data, static_cast<size_t>(n));
  frame[8 + n] = calc_crcHART(frame, 8 + n);
  frame[9 + n] = kPreamble;
  return 15 + n;
}

QUARN_API int32_t FormShortRq0(uint8_t* buf, uint32_t p) {
  if (!buf) return -1;
  if (p > 63) return -2;
  std::memset(buf, kPreamble, kPreambleLength);
  buf[5] = kDelimiterShortRequest;
  buf[6] = static_cast<uint8_t>(kPrimaryMaster | p);
  buf[7] = 0;  // command 0
  buf[8] = 0;  // no data
  buf[9] = calc_crcHART(buf + 5, 4);
  buf[10] = kPreamble;
  return 11;
}

QUARN_API int32_t FormAc(uint8_t* buf, int32_t n, const uint8_t* data) {
  if (!buf) return -1;
  if (!recordValid(hdi)) return HART_ERR_RECORD;
  if (n < 0 || n > 253 || (n > 0 && !data)) return -3;
  std::memset(buf, kPreamble, kPreambleLength);
  uint8_t* frame = buf + kPreambleLength;
  const bool isLong = (hdi->rxDelimiter & 0x80) != 0;
  int32_t i = 0;
  frame[i++] = isLong ? kDelimiterLongAnswer : kDelimiterShortAnswer;
  if (isLong) {
    std::memcpy(frame + i, hdi->longAddress, 5);
    i += 5;
  } else {
    frame[i++] = hdi->pollingAddress;
  }
  frame[i++] = hdi->rxCommand;
  frame[i++] = static_cast<uint8_t>(n + 2);
  frame[i++] = 0;  // response code
  frame[i++] = 0;  // field device status
  if (n > 0) std::memmove(frame + i, data, static_cast<size_t>(n));
  i += n;
  frame[i] = calc_crcHART(frame, i);
  ++i;
  frame[i++] = kPreamble;
  return i;
}

QUARN_API uint8_t MakeLongAdr(uint8_t* dst, uint32_t deviceId, uint16_t expandedDeviceType) {
  if (!dst) return 0;
  // The 38-bit address is the low six bits of the type's high byte, its low byte and the device id.
  // Bits 7 and 6 of the first byte are the master and burst-mode bits of the request: a primary
  // master sets the first and never the second, whatever the device type holds there.
  dst[0] = static_cast<uint8_t>(((expandedDeviceType >> 8) & kAddressBitsOfFirstByte) | kPrimaryMaster);
  dst[1] = static_cast<uint8_t>(expandedDeviceType);
  dst[2] = static_cast<uint8_t>(deviceId >> 16);
  dst[3] = static_cast<uint8_t>(deviceId >> 8);
  dst[4] = static_cast<uint8_t>(deviceId);
  return dst[0];
}

QUARN_API int32_t FormRqCmd(uint8_t* buf, const THartDev* dev, uint32_t command) {
  if (!recordValid(dev)) return HART_ERR_RECORD;
  return FormRq(buf, dev->longAddress, command, 0, nullptr);
}

QUARN_API int32_t FormRq_B(uint8_t* buf, const THartDev* dev, uint32_t command, uint8_t b) {
  if (!recordValid(dev)) return HART_ERR_RECORD;
  return FormRq(buf, dev->longAddress, command, 1, &b);
}

QUARN_API int32_t FormRq_BB(uint8_t* buf, const THartDev* dev, uint32_t command, uint8_t b1, uint8_t b2) {
  if (!recordValid(dev)) return HART_ERR_RECORD;
  const uint8_t data[2] = {b1, b2};
  return FormRq(buf, dev->longAddress, command, 2, data);
}

QUARN_API int32_t FormRq_F(uint8_t* buf, const THartDev* dev, uint32_t command, float f) {
  if (!recordValid(dev)) return HART_ERR_RECORD;
  uint8_t data[4];
  putFloat(data, f);
  return FormRq(buf, dev->longAddress, command, 4, data);
}

QUARN_API int32_t FormRq_FF(uint8_t* buf, const THartDev* dev, uint32_t command, float f1, float f2) {
  if (!recordValid(dev)) return HART_ERR_RECORD;
  uint8_t data[8];
  putFloat(putFloat(data, f1), f2);
  return FormRq(buf, dev->longAddress, command, 8, data);
}

QUARN_API int32_t FormRq_BFF(uint8_t* buf, const THartDev* dev, uint32_t command, uint8_t b, float f1,
                             float f2) {
  if (!recordValid(dev)) return HART_ERR_RECORD;
  uint8_t data[9];
  data[0] = b;
  putFloat(putFloat(data + 1, f1), f2);
  return FormRq(buf, dev->longAddress, command, 9, data);
}

QUARN_API int32_t FormRq_BBBF(uint8_t* buf, const THartDev* dev, uint32_t command, uint8_t b1, uint8_t b2,
                              uint8_t b3, float f) {
  if (!recordValid(dev)) return HART_ERR_RECORD;
  uint8_t data[7] = {b1, b2, b3};
  putFloat(data + 3, f);
  return FormRq(buf, dev->longAddress, command, 7, data);
}

}  // extern "C"
