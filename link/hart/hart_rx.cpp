// HART answer receivers: the whole-buffer parser used by every answer step and the byte-wise
// receiver. Both fill the receive fields of a THartDev record and hand a good frame to OnRxMsg.
#include <cstddef>
#include <cstring>

#include "hart/hart_internal.h"
#include "hart/hart_master.h"

namespace {

// Receive states of OnRxChar.
enum RxState : uint32_t {
  kHunt = 0,
  kPreamble = 1,
  kExpansion = 2,
  kAddress = 3,
  kCommand = 4,
  kByteCount = 5,
  kFirstStatus = 6,
  kSecondStatus = 7,
  kData = 8,
  kChecksum = 10,
};

// Marks, in rxCount, a frame whose checksum byte has been taken: the next byte starts a new hunt
// instead of being compared with the checksum once more.
constexpr int32_t kFrameDone = -1;

constexpr size_t kRxDataSize = sizeof(THartDev::rxData);

// The address byte of a short frame: bit 7 master, bit 6 burst, bits 0..5 the polling address 0..63.
constexpr uint8_t kPollingAddressBits = 0x3F;

void zeroRange(THartDev* dev, size_t from, size_t through, size_t throughSize) {
  std::memset(reinterpret_cast<uint8_t*>(dev) + from, 0, through + throughSize - from);
}

bool pointsInto(const uint8_t* p, const uint8_t* field, size_t size) {
  return p >= field && p < field + size;
}

// The byte-wise receiver writes only through rxPtr; a pointer outside the field it is meant for
// (a record changed from outside mid-frame) drops the frame instead of writing elsewhere.
bool rxPtrValid(const THartDev* dev, uint32_t state) {
  if (state == kAddress)
    return pointsInto(dev->rxPtr, dev->rxLongAddress, sizeof dev->rxLongAddress) ||
           dev->rxPtr == &const_cast<THartDev*>(dev)->rxShortAddress;
  return pointsInto(dev->rxPtr, dev->rxData, kRxDataSize);
}

void startAddress(THartDev* dev) {
  const bool isLong = (dev->rxDelimiter & 0x80) != 0;
  dev->rxPtr = isLong ? dev->rxLongAddress : &dev->rxShortAddress;
  dev->rxCount = isLong ? 5 : 1;
  dev->rxState = kAddress;
}

}  // namespace

namespace quarn::hart {

void clearReceiveFields(THartDev* dev) {
  zeroRange(dev, offsetof(THartDev, rxDelimiter), offsetof(THartDev, responseText),
            sizeof(dev->responseText));
}

AnswerProgress answerProgress(const uint8_t* bytes, uint32_t count) {
  // The same walk as Hart_DeForm: over anything up to the first 0xFF, then over the preamble.
  const uint32_t n = count % 256;
  uint32_t i = 0;
  while (i < n && bytes[i] != 0xFF) ++i;
  if (i == n) return {AnswerProgress::NoFrame, 0};
  while (i < n && bytes[i] == 0xFF) ++i;
  // The shortest frame: delimiter, one address byte, command, byte count, two status bytes, checksum.
  if (i == n) return {AnswerProgress::Preamble, 7};
  const uint32_t have = n - i;
  const uint32_t addressLength = (bytes[i] & 0x80) ? 5 : 1;
  // Delimiter, address, command and byte count; then the two status bytes and the checksum at least.
  const uint32_t header = 1 + addressLength + 2;
  if (have < header) return {AnswerProgress::Header, header - have + 3};
  const uint8_t byteCount = bytes[i + header - 1];
  // A byte count below two or data beyond rxData is refused however many bytes follow.
  if (byteCount < 2 || static_cast<uint32_t>(byteCount - 2) > kRxDataSize) return {AnswerProgress::Whole, 0};
  const uint32_t whole = header + byteCount + 1;
  if (have < whole) return {AnswerProgress::Body, whole - have};
  return {AnswerProgress::Whole, 0};
}

}  // namespace quarn::hart

extern "C" {

QUARN_API int32_t check_DeviceInfo(const THartDev* dev) {
  if (!dev || dev->size != THARTDEV_SIZE || dev->endMark != THARTDEV_END_MARK) return HART_ERR_RECORD;
  return 0;
}

QUARN_API int32_t ResetRx(THartDev* dev) {
  if (check_DeviceInfo(dev) != 0) return HART_ERR_RECORD;
  zeroRange(dev, offsetof(THartDev, rxState), offsetof(THartDev, responseText), sizeof(dev->responseText));
  return 0;
}

QUARN_API int32_t Hart_DeForm(const uint8_t* bytes, uint32_t count, THartDev* dev) {
  const uint32_t n = count % 256;  // the count travels as one byte
  if (n == 0 || !bytes || !dev) return -1;
  if (check_DeviceInfo(dev) != 0) return HART_ERR_RECORD;
  quarn::hart::clearReceiveFields(dev);

  // Up to the first 0xFF, then over the preamble. A buffer without any 0xFF has no frame.
  uint32_t i = 0;
  while (i < n && bytes[i] != 0xFF) ++i;
  if (i == n) return -1;
  while (i < n && bytes[i] == 0xFF) ++i;
  if (i == n) {
    dev->rxDelimiter = 0xFF;
    return -1;
  }
  const uint32_t start = i;
  dev->rxDelimiter = bytes[i++];
  const bool isLong = (dev->rxDelimiter & 0x80) != 0;
  const uint32_t addressLength = isLong ? 5 : 1;
  // Delimiter, address, command, byte count and the two status bytes at least.
  if (n - start < 1 + addressLength + 4) return -1;
  if (isLong) {
    std::memcpy(dev->rxLongAddress, bytes + i, 5);
  } else {
    dev->rxShortAddress = bytes[i] & kPollingAddressBits;
  }
  i += addressLength;
  dev->rxCommand = bytes[i++];
  const uint8_t byteCount = bytes[i++];
  // Status bytes, data and the checksum must all have arrived, and the data must fit rxData.
  const uint32_t dataLength = static_cast<uint8_t>(byteCount - 2);
  if (byteCount < 2 || dataLength > kRxDataSize || n - i < 2 + dataLength + 1) return -2;
  dev->rxResponseCode = bytes[i++];
  dev->rxDeviceStatus = bytes[i++];
  const uint8_t expected = calc_crcHART(bytes + start, static_cast<int32_t>(i + dataLength - start));
  if (bytes[i + dataLength] != expected) return -1;
  dev->rxDataLength = static_cast<uint8_t>(dataLength);
  std::memcpy(dev->rxData, bytes + i, dataLength);
  return OnRxMsg(dev);
}

QUARN_API int32_t OnRxChar(THartDev* dev, uint8_t byte) {
  if (check_DeviceInfo(dev) != 0) return HART_ERR_RECORD;
  if (dev->rxState == kChecksum && dev->rxCount == kFrameDone) {
    // The previous frame is complete: this byte belongs to whatever follows.
    dev->rxState = kHunt;
    dev->rxCount = 0;
  }
  int32_t result = 0;
  bool frameDone = false;
  switch (dev->rxState) {
    case kHunt:
      if (byte == 0xFF) dev->rxState = kPreamble;
      break;
    case kPreamble:
      if (byte == 0xFF) break;
      quarn::hart::clearReceiveFields(dev);
      dev->rxDelimiter = byte;
      if (byte & 0x60) {
        dev->rxCount = (byte & 0x60) >> 5;
        dev->rxState = kExpansion;
      } else {
        startAddress(dev);
      }
      break;
    case kExpansion:
      if (--dev->rxCount <= 0) startAddress(dev);
      break;
    case kAddress:
      if (!rxPtrValid(dev, kAddress)) {
        ResetRx(dev);
        return -1;
      }
      *dev->rxPtr++ = byte;
      if (--dev->rxCount <= 0) {
        // A short address keeps the polling address bits, as the whole-frame parser keeps them.
        if (!(dev->rxDelimiter & 0x80)) dev->rxShortAddress &= kPollingAddressBits;
        dev->rxState = kCommand;
      }
      break;
    case kCommand:
      dev->rxCommand = byte;
      dev->rxState = kByteCount;
      break;
    case kByteCount:
      if (byte < 2) {
        // An answer always carries its two status bytes; a shorter one would be decoded from
        // zeroed data, so it is dropped as the whole-buffer parser drops it.
        ResetRx(dev);
        return -2;
      }
      dev->rxCount = byte;
      dev->rxState = kFirstStatus;
      break;
    case kFirstStatus:
      dev->rxResponseCode = byte;
      --dev->rxCount;
      dev->rxState = kSecondStatus;
      break;
    case kSecondStatus:
      dev->rxDeviceStatus = byte;
      --dev->rxCount;
      if (dev->rxCount > static_cast<int32_t>(kRxDataSize)) {
        // More data than rxData holds: the frame is dropped before anything is stored.
        ResetRx(dev);
        return -2;
      }
      dev->rxDataLength = static_cast<uint8_t>(dev->rxCount);
      dev->rxPtr = dev->rxData;
      dev->rxState = dev->rxCount == 0 ? kChecksum : kData;
      break;
    case kData:
      if (!rxPtrValid(dev, kData)) {
        ResetRx(dev);
        return -2;
      }
      *dev->rxPtr++ = byte;
      if (--dev->rxCount <= 0) dev->rxState = kChecksum;
      break;
    case kChecksum:
      if (byte == dev->rxChecksum) {
        frameDone = true;
        dev->rxCount = kFrameDone;
        const int32_t r = OnRxMsg(dev);
        result = r == 0 ? 1 : -1000 - r;
      } else {
        quarn::hart::clearReceiveFields(dev);
        dev->rxState = kHunt;
        dev->rxCount = 0;
        dev->rxPtr = nullptr;
      }
      break;
    default:  // a state this receiver never sets: start over
      ResetRx(dev);
      break;
  }
  if (!frameDone) dev->rxChecksum ^= byte;
  return result;
}

}  // extern "C"
