// Decoding of HART answers into a THartDev record: OnRxMsg picks the handler of the answer's command,
// and each handler takes its fields from the data bytes at hrt_rx.
#include <cstdio>
#include <cstring>

#include "core/quarn_core.h"
#include "hart/hart_internal.h"
#include "hart/hart_master.h"

namespace {

constexpr size_t kRxDataSize = sizeof(THartDev::rxData);

// Sequential reader over the answer's data. It starts at hrt_rx when that points into the record's
// data, else at the first data byte, so a handler never reads outside the record. Every read
// advances hrt_rx as well.
class DataReader {
 public:
  explicit DataReader(THartDev* dev)
      : p_(hrt_rx >= dev->rxData && hrt_rx < dev->rxData + kRxDataSize ? hrt_rx : dev->rxData) {
    hrt_rx = p_;
  }
  uint8_t byte() { return advance(1)[0]; }
  uint16_t u16() {
    const uint8_t* b = advance(2);
    return static_cast<uint16_t>((b[0] << 8) | b[1]);
  }
  uint32_t u24() { return hex2u24(advance(3)); }
  float real() { return hex2float(advance(4)); }
  const uint8_t* bytes(size_t n) { return advance(n); }
  // Byte i counted from where the reader started, without moving.
  uint8_t peek(size_t i) const { return p_[i]; }

 private:
  const uint8_t* advance(size_t n) {
    const uint8_t* at = hrt_rx;
    hrt_rx += n;
    return at;
  }
  const uint8_t* p_;
};

void copyText(char* dst, size_t size, const char* src) {
  std::strncpy(dst, src ? src : "", size - 1);
  dst[size - 1] = '\0';
}

int32_t handlerFor(uint8_t command, THartDev* dev) {
  switch (command) {
    case 0:
      return onRx_000_ReadUniqueIdentifer(dev);
    case 1:
      return onRx_001_ReadPriaryVarible(dev);
    case 2:
      return onRx_002_ReadCurrentOut_andPercent(dev);
    case 3:
      return onRx_003_ReadAllDynamicVarAndCurrent(dev);
    case 6:
    case 7:
      return onRx_007_ReadLoopConfiguration(dev);
    case 8:
      return onRx_008_ReadDynamicVariableClassifications(dev);
    case 12:
      return onRx_012_ReadMessage(dev);
    case 13:
      return onRx_013_ReadTagDescriptorDate(dev);
    case 14:
      return onRx_014_ReadPrimaryVariableTransducerInformation(dev);
    case 15:
      return onRx_015_ReadDeviceInformation(dev);
    case 34:
      return onRx_034_WritePrimaryVariableDampingValue(dev);
    case 35:
      return onRx_035_WritePrimaryVariableRangeValues(dev);
    case 40:
      return onRx_040_EnterExitFixedCurrentMode(dev);
    case 44:
      return onRx_044_WritePrimaryVariableUnits(dev);
    case 45:
      return onRx_045_WriteMinCurrentOut(dev);
    case 46:
      return onRx_046_WriteMaxCurrentOut(dev);
    case 47:
      return onRx_047_WritePrimaryVariableTransferFunction(dev);
    case 80:
      return onRx_080_ReadDeviceVariableTrimPoints(dev);
    case 81:
      return onRx_081_ReadDeviceVariableTrimGuidelines(dev);
    case 122:
      return onRx_122_ReadCalib(dev);
    case 128:
      return onRx_128_ReadParamCurrentOut(dev);
    default:
      return 0;  // answers the library does not keep
  }
}

bool valid(const THartDev* dev) { return check_DeviceInfo(dev) == 0; }

}  // namespace

extern "C" {

QUARN_API const uint8_t* hrt_rx = nullptr;

QUARN_API int32_t OnRxMsg(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  if (dev->rxResponseCode != 0) {
    dev->responseText = ToStrResponse(dev->rxCommand, dev->rxResponseCode);
    return dev->rxResponseCode;
  }
  dev->responseText = nullptr;
  hrt_rx = dev->rxData;
  return handlerFor(dev->rxCommand, dev);
}

QUARN_API int32_t onRx_000_ReadUniqueIdentifer(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  if (d.peek(0) != 254) return -2;
  d.byte();
  dev->expandedDeviceType = d.u16();
  dev->requestPreambles = d.byte();
  dev->hartRevision = d.byte();
  dev->deviceRevision = d.byte();
  dev->softwareRevision = d.byte();
  const uint8_t hw = d.byte();
  dev->hardwareRevision = hw >> 3;
  dev->physicalSignaling = hw & 7;
  dev->deviceFlags = d.byte();
  dev->deviceId = d.u24();
  // The revision 7 fields run through data byte 21: a shorter answer leaves them as they were.
  if (dev->rxDataLength >= 22 && dev->hartRevision >= 7) {
    dev->responsePreambles = d.byte();
    dev->maxDeviceVariables = d.byte();
    dev->variableCount = dev->maxDeviceVariables;
    dev->configChangeCounter = d.u16();
    dev->extendedStatus = d.byte();
    dev->manufacturerId = d.u16();
    dev->privateLabelId = d.u16();
    dev->deviceProfile = d.byte();
  }
  MakeLongAdr(dev->longAddress, dev->deviceId, dev->expandedDeviceType);
  t01_ExpandedDeviceTypeCodes(dev->expandedDeviceType);
  copyText(dev->deviceTypeName, sizeof dev->deviceTypeName, desc);
  copyText(dev->manufacturerName, sizeof dev->manufacturerName, man);
  return 0;
}

QUARN_API int32_t onRx_001_ReadPriaryVarible(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  dev->dynVar[0].units = d.byte();
  dev->dynVar[0].unitsText = t02_GetUnitStringFromCode(dev->dynVar[0].units);
  dev->dynVar[0].value = d.real();
  return 0;
}

QUARN_API int32_t onRx_002_ReadCurrentOut_andPercent(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  dev->loopCurrent = d.real();
  dev->percentOfRange = d.real();
  return 0;
}

QUARN_API int32_t onRx_003_ReadAllDynamicVarAndCurrent(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  // The loop current, then five bytes (units, value) per variable. An answer shorter than the loop
  // current and the primary variable (9 bytes) carries no variable: the count must not round a
  // short answer up to one variable read from the zero padding behind it.
  const int32_t length = dev->rxDataLength;
  const int32_t n = length < 9 ? 0 : (length - 9) / 4 + 1;
  dev->variableCount = static_cast<uint32_t>(n);
  for (auto& v : dev->dynVar) v.present = 0;
  dev->loopCurrent = d.real();
  for (int32_t k = 0; k < n && k < 4; ++k) {
    THartVar& v = dev->dynVar[k];
    v.present = 1;
    v.units = d.byte();
    v.unitsText = t02_GetUnitStringFromCode(v.units);
    v.value = d.real();
  }
  return 0;
}

QUARN_API int32_t onRx_007_ReadLoopConfiguration(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  dev->pollingAddress = d.byte();
  dev->loopCurrentMode = d.byte();
  return 0;
}

QUARN_API int32_t onRx_008_ReadDynamicVariableClassifications(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  std::memcpy(dev->classification, d.bytes(4), 4);
  return 0;
}

QUARN_API int32_t onRx_012_ReadMessage(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  // Unpacked into a buffer for the longest answer, then as much as the field holds: at most 40
  // characters and always a terminator.
  char text[kRxDataSize / 3 * 4];
  const int32_t n = SHARTtoString(text, d.bytes(dev->rxDataLength), dev->rxDataLength);
  const size_t keep =
      static_cast<size_t>(n) < sizeof dev->message - 1 ? static_cast<size_t>(n) : sizeof dev->message - 1;
  std::memset(dev->message, 0, sizeof dev->message);
  std::memcpy(dev->message, text, keep);
  return 0;
}

QUARN_API int32_t onRx_013_ReadTagDescriptorDate(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  SHARTtoString(dev->tag, d.bytes(6), 6);
  SHARTtoString(dev->descriptor, d.bytes(12), 12);
  dev->dateDay = d.byte();
  dev->dateMonth = d.byte();
  dev->dateYear = static_cast<uint16_t>(d.byte() + 1900);
  return 0;
}

QUARN_API int32_t onRx_014_ReadPrimaryVariableTransducerInformation(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  dev->sensorSerial = d.u24();
  dev->sensorUnits = d.byte();
  dev->upperSensorLimit = d.real();
  dev->lowerSensorLimit = d.real();
  dev->minSpan = d.real();
  return 0;
}

QUARN_API int32_t onRx_015_ReadDeviceInformation(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  dev->alarmSelection = d.byte();
  dev->transferFunction = d.byte();
  dev->rangeUnits = d.byte();
  dev->upperRange = d.real();
  dev->lowerRange = d.real();
  dev->damping = d.real();
  dev->writeProtect = d.byte();
  dev->labelCode = d.byte();
  // The primary variable is shown in the range units; its own units code stays as read.
  dev->dynVar[0].unitsText = t02_GetUnitStringFromCode(dev->rangeUnits);
  return 0;
}

QUARN_API int32_t onRx_034_WritePrimaryVariableDampingValue(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  dev->damping = d.real();
  return 0;
}

QUARN_API int32_t onRx_035_WritePrimaryVariableRangeValues(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  dev->rangeUnits = d.byte();
  dev->upperRange = d.real();
  dev->lowerRange = d.real();
  return 0;
}

QUARN_API int32_t onRx_040_EnterExitFixedCurrentMode(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  dev->loopCurrent = d.real();
  return 0;
}

QUARN_API int32_t onRx_044_WritePrimaryVariableUnits(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  dev->rangeUnits = d.byte();
  dev->dynVar[0].units = dev->rangeUnits;
  return 0;
}

QUARN_API int32_t onRx_045_WriteMinCurrentOut(THartDev* dev) {
  return onRx_040_EnterExitFixedCurrentMode(dev);
}

QUARN_API int32_t onRx_046_WriteMaxCurrentOut(THartDev* dev) {
  return onRx_040_EnterExitFixedCurrentMode(dev);
}

QUARN_API int32_t onRx_047_WritePrimaryVariableTransferFunction(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  dev->transferFunction = d.byte();
  return 0;
}

QUARN_API int32_t onRx_080_ReadDeviceVariableTrimPoints(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  // Only the four dynamic variables have a block; an answer for another variable is not kept.
  if (d.peek(0) > 3) return -2;
  THartVar& v = dev->dynVar[d.byte()];
  v.trimUnits = d.byte();
  v.lowerTrimPoint = d.real();
  v.upperTrimPoint = d.real();
  return 0;
}

QUARN_API int32_t onRx_081_ReadDeviceVariableTrimGuidelines(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  if (d.peek(0) > 3) return -2;
  THartVar& v = dev->dynVar[d.byte()];
  const uint8_t supported = d.byte();
  v.lowerTrimSupported = supported == 1 || supported == 3;
  v.upperTrimSupported = supported == 2 || supported == 3;
  v.trimUnits = d.byte();
  v.minLowerTrim = d.real();
  v.maxLowerTrim = d.real();
  v.minUpperTrim = d.real();
  v.maxUpperTrim = d.real();
  v.minTrimDiff = d.real();
  return 0;
}

QUARN_API int32_t onRx_122_ReadCalib(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  DataReader d(dev);
  dev->calibValueA = d.real();
  dev->calibValueB = d.real();
  return 0;
}

QUARN_API int32_t onRx_128_ReadParamCurrentOut(THartDev* dev) {
  if (!valid(dev)) return HART_ERR_RECORD;
  char line[16 + 3 * kRxDataSize];
  int len = std::snprintf(line, sizeof line, "HART 128:");
  for (size_t i = 0; i < dev->rxDataLength && i < kRxDataSize; ++i)
    len += std::snprintf(line + len, sizeof line - static_cast<size_t>(len), " %02X", dev->rxData[i]);
  std_out(line);
  DataReader d(dev);
  dev->outputType = d.byte();
  dev->outputParam = d.byte();
  dev->outputValueA = d.real();
  dev->outputValueB = d.real();
  return 0;
}

QUARN_API void Hart_recalc_PV(THartRange* range, const THartDev* dev) {
  if (!range || !valid(dev)) return;
  // The real factors of both units: a range in mbar or psia is not a range in kPa.
  const float f = quarn::hart::pressureFactorKPa(range->units);
  const float g = quarn::hart::pressureFactorKPa(dev->rangeUnits);
  if (f == 0.0f) return;
  range->lower *= g / f;
  range->upper *= g / f;
}

}  // extern "C"
