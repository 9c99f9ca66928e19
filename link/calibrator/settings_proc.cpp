// Reading and writing the calibrator's settings with its identification, and writing the input type
// descriptor of the Kesto module.
#include <cstring>

#include "calibrator/answer_fields.h"
#include "calibrator/calibrator.h"
#include "calibrator/model_flags.h"
#include "calibrator/uail_link.h"

using namespace quarn::cal;

#include "calibrator/verification.h"

namespace {

constexpr uint8_t kRqIdentify = 0;
constexpr uint8_t kRqIdentification = 9;
constexpr uint8_t kRqVersion = 11;
constexpr uint8_t kRqReadSettings = 16;
constexpr uint8_t kRqWriteSettings = 17;
constexpr uint8_t kRqFileSeek = 41;
constexpr uint8_t kRqFileClose = 44;
constexpr int32_t kDescriptorPosition = 35;

// The converters get their own copy of the answer text: they may notify the host.
struct AnswerText {
  char text[UAIL_RX_BUF_SIZE];
  explicit AnswerText(std::string_view t) { copyText(text, t); }
};

void sendSettings() {
  char text[SETTINGS_TEXT_MAX];
  settings_Bin2Str(text, &Dev.settings);
  sendText(kRqWriteSettings, text);
}

// The input type descriptor of the Kesto module: 23 bytes, byte 0 replaced by the sensor type.
constexpr uint8_t kDescriptor4to20[23] = {0x08, 0x00, 0x00, 0x00, 0xC8, 0x42, 0x00, 0x00,
                                          0xC8, 0x42, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0x70, 0x42, 0x00, 0x00, 0xC8, 0x41, 0x28};
constexpr uint8_t kDescriptorOther[23] = {0x00, 0x0C, 0x00, 0x00, 0xC8, 0x42, 0x00, 0x00,
                                          0x7A, 0x44, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0x70, 0x42, 0x00, 0x00, 0xC8, 0x41, 0x6A};

void readThenEnd() {
  fRet[RET_READ_SETTINGS] = fRet[RET_WRITE_SETTINGS];
  next(ReadSettings);
}

}  // namespace

extern "C" {

/* ---- Settings read ---------------------------------------------------------------------------- */

QUARN_API int32_t ReadSettings(void) {
  useCalibratorPort(kAddrCalibrator);
  send(kRqReadSettings);
  next(ReadSettings_2, 300);
  return 0;
}

QUARN_API int32_t ReadSettings_2(void) {
  const Answer a = takeAnswer();
  if (a.ok && settings_Str2Bin(&Dev.settings, AnswerText(a.text).text) == 0) {
    Dev.settings.valid = 1;
    if (!quarnModel()) {
      Dev.controlMode = static_cast<uint32_t>(Dev.settings.regMode);
      Dev.pTarget = Dev.settings.pTargetStored;
    }
    send(kRqIdentification);
    next(ReadSettings_3, 150);
  } else if (spendRepeat(a)) {
    next(ReadSettings);
  } else {
    next(fRet[RET_READ_SETTINGS].err);
  }
  return 0;
}

QUARN_API int32_t ReadSettings_3(void) {
  const Answer a = takeAnswer();
  if (a.ok && info_sn_Str2Bin(&Dev.calInfo, AnswerText(a.text).text) == 0) {
    Dev.refStat.stableBand = Dev.calInfo.span * Dev.settings.readyBand1 / 100.0f;
    send(kRqVersion);
    next(ReadSettings_4, 150);
  } else if (spendRepeat(a)) {
    send(kRqIdentification);
    next(ReadSettings_3, 200);
  } else {
    next(fRet[RET_READ_SETTINGS].err, 1);
  }
  return 0;
}

QUARN_API int32_t ReadSettings_4(void) {
  const Answer a = takeAnswer();
  if (a.ok && info_ver_Str2Bin(&Dev.calInfo, AnswerText(a.text).text) == 0) {
    Dev.calInfo.valid = 1;
    Dev.event = 3;
    update_maxDeviation();
    Update();
    next(fRet[RET_READ_SETTINGS].ok);
  } else if (spendRepeat(a)) {
    send(kRqVersion);
    next(ReadSettings_4, 200);
  } else {
    next(fRet[RET_READ_SETTINGS].err, 1);
  }
  return 0;
}

/* ---- Settings write --------------------------------------------------------------------------- */

QUARN_API int32_t WriteSettings(void) {
  useCalibratorPort(kAddrCalibrator);
  sendSettings();
  next(WriteSettings_2, 800);
  return 0;
}

QUARN_API int32_t WriteSettings_2(void) {
  if (takeAnswer().ok) {
    readThenEnd();
    return 0;
  }
  sendSettings();
  next(WriteSettings_3, 1500);
  return 0;
}

QUARN_API int32_t WriteSettings_3(void) {
  if (takeAnswer().ok)
    readThenEnd();
  else
    next(fRet[RET_WRITE_SETTINGS].err, 100);
  return 0;
}

/* ---- Kesto input type ------------------------------------------------------------------------- */

QUARN_API int32_t SetSensorType(void) {
  useCalibratorPort(kAddrKesto);
  send(kRqIdentify);
  next(SetSensorType_1, 200);
  return 0;
}

QUARN_API int32_t SetSensorType_1(void) {
  if (!takeAnswer().ok) {
    address(kAddrCalibrator);
    next(fRet[RET_SET_SENSOR_TYPE].err);
    return 0;
  }
  sendInts(kRqFileSeek, kDescriptorPosition, 0);
  next(SetSensorType_2, 200);
  return 0;
}

QUARN_API int32_t SetSensorType_2(void) {
  if (!takeAnswer().ok) {
    // The module took the identification but refuses its file: back to measuring.
    address(kAddrCalibrator);
    next(Meas);
    return 0;
  }
  uint8_t descriptor[23];
  std::memcpy(descriptor, Dev.sensorType == 8 ? kDescriptor4to20 : kDescriptorOther, sizeof descriptor);
  descriptor[0] = static_cast<uint8_t>(Dev.sensorType);
  sendFileWrite(descriptor, sizeof descriptor);
  next(SetSensorType_3, 200);
  return 0;
}

QUARN_API int32_t SetSensorType_3(void) {
  takeAnswer();
  sendInt(kRqFileClose, 0);
  next(SetSensorType_4, 200);
  return 0;
}

QUARN_API int32_t SetSensorType_4(void) {
  takeAnswer();
  address(kAddrCalibrator);
  next(fRet[RET_SET_SENSOR_TYPE].ok);
  return 0;
}

}  // extern "C"
