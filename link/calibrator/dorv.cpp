// The external reference transducer (Dorv). With the Brenk it has its own port: identified there
// once, its range, unit and serial number read from registers, then its pressure read in every
// measuring cycle. With the Quarn the calibrator reports the transducer's state.
#include <cmath>

#include "calibrator/answer_fields.h"
#include "calibrator/calibrator.h"
#include "calibrator/cycle_readings.h"
#include "calibrator/uail_link.h"

using namespace quarn::cal;

namespace {

constexpr uint8_t kRqIdentify = 0;
constexpr uint8_t kRqMeasure = 1;
constexpr int32_t kMeasureArg = 0;
constexpr uint8_t kRqDorvState = 5;
constexpr uint8_t kDorvAddress = 0;
constexpr uint32_t kAnswerWaitMs = 500;
constexpr uint32_t kRegisterWaitMs = 600;

// The transducer's port always runs at the speed of the UAIL line mode, so every opening and every
// request use the same speed whatever the port record's remembered mode is.
constexpr uint32_t kDorvBaud = 9600;

constexpr uint8_t kRegPressType = 49;
constexpr uint8_t kRegRangeHigh = 52;
constexpr uint8_t kRegRangeLow = 76;
constexpr uint8_t kRegUnit = 30;
constexpr uint8_t kRegSerial = 139;

// Factors from the transducer's unit codes 0..7 to kPa.
constexpr float kDorvUnitToKPa[8] = {1000.0f,  1.0f,      0.001f, 0.00980665f,
                                     98.0665f, 0.133322f, 100.0f, 6.894759f};

void backToCalibrator() { useCalibratorPort(kAddrCalibrator); }

void closeDorvPort() {
  if (quarn_rs_handle_valid(rsDorv.hCom)) ClosePortAsync(rsDorv.hCom);
  rsDorv.hCom = RS_HANDLE_NONE;
}

void failDorv(bool closePort) {
  if (closePort) closeDorvPort();
  backToCalibrator();
  next(fRet[RET_PROC_BRENK_EXT_DORV].err);
}

// What the register answers carry. A register that does not answer leaves its value as it was: the
// chain goes on to the next register all the same.
void takePressType(const Answer& a) {
  int32_t v = 0;
  if (a.ok && fieldInt(a.text, 0, v)) Dev.dorv.pressType = v;
}

void takeRangeHigh(const Answer& a) {
  float v = 0.0f;
  if (a.ok && fieldHexFloat(a.text, 0, v) && std::isfinite(v)) Dev.dorv.rangeHigh = v;
}

void takeRangeLow(const Answer& a) {
  float v = 0.0f;
  if (a.ok && fieldHexFloat(a.text, 0, v) && std::isfinite(v)) Dev.dorv.rangeLow = v;
}

void takeUnit(const Answer& a) {
  int32_t code = -1;
  if (a.ok && fieldInt(a.text, 0, code) && code >= 0 && code < 8) Dev.dorv.unitToKPa = kDorvUnitToKPa[code];
}

void takeSerial(const Answer& a) {
  uint32_t serial = 0;
  if (a.ok && fieldHexBits(a.text, 0, serial)) Dev.dorv.serialNo = serial;
}

// A step of the register chain: takes the answer to one register, asks for the next one (rqReg), and
// lets `then` take its answer.
int32_t takeRegisterThenAsk(void (*take)(const Answer&), uint8_t nextRegister, TStepFn then) {
  take(takeAnswer());
  return rqReg(nextRegister, then);
}

}  // namespace

extern "C" {

QUARN_API int32_t rqReg(uint8_t reg, TStepFn step) {
  sendRegisterRead(reg);
  ToNext(step, kRegisterWaitMs);
  return 0;
}

QUARN_API int32_t ProcBrenkextDorv(void) {
  pRS = &rsDorv;
  address(static_cast<uint8_t>(Dev.dorv.address));
  if (Dev.dorv.present) {
    sendInt(kRqMeasure, kMeasureArg);
    next(ProcBrenkextDorv_RxP, kAnswerWaitMs);
    return 0;
  }
  closeDorvPort();
  const uint32_t portNo = Dev.dorv.serialNo;
  uint32_t h = RS_HANDLE_INVALID;
  if (portNo >= RS_PORT_FIRST && portNo <= RS_PORT_LAST)
    h = OpenPortAsync(static_cast<int32_t>(portNo), kDorvBaud, RS_PARITY_NONE);
  if (!quarn_rs_handle_valid(h)) {
    failDorv(false);
    return 0;
  }
  rsDorv.hCom = h;
  address(kDorvAddress);
  send(kRqIdentify);
  next(ProcBrenkextDorv_RxAcId, kAnswerWaitMs);
  return 0;
}

QUARN_API int32_t ProcBrenkextDorv_RxAcId(void) {
  const Answer a = takeAnswer();
  int32_t type = 0;
  if (!a.ok || !fieldInt(a.text, 0, type) || (type != 13 && type != 43 && type != 81 && type != 108)) {
    failDorv(true);
    return 0;
  }
  Dev.dorv.present = 1;
  Dev.dorv.address = currentAddress();
  if (type == 13) {
    // A transducer with fixed data: 0..600 kPa gauge.
    Dev.dorv.unitToKPa = 1.0f;
    Dev.dorv.rangeLow = 0.0f;
    Dev.dorv.rangeHigh = 600.0f;
    Dev.dorv.pressType = 1;
    backToCalibrator();
    next(fRet[RET_PROC_BRENK_EXT_DORV].ok);
    return 0;
  }
  rqReg(kRegPressType, ProcBrenkextDorv_RxReg49);
  return 0;
}

// The registers in the order they are read: pressure type, upper and lower range, unit, serial number.
QUARN_API int32_t ProcBrenkextDorv_RxReg49(void) {
  return takeRegisterThenAsk(takePressType, kRegRangeHigh, ProcBrenkextDorv_RxReg52);
}

QUARN_API int32_t ProcBrenkextDorv_RxReg52(void) {
  return takeRegisterThenAsk(takeRangeHigh, kRegRangeLow, ProcBrenkextDorv_RxReg76);
}

QUARN_API int32_t ProcBrenkextDorv_RxReg76(void) {
  return takeRegisterThenAsk(takeRangeLow, kRegUnit, ProcBrenkextDorv_RxReg30);
}

QUARN_API int32_t ProcBrenkextDorv_RxReg30(void) {
  return takeRegisterThenAsk(takeUnit, kRegSerial, ProcBrenkextDorv_RxReg139);
}

QUARN_API int32_t ProcBrenkextDorv_RxReg139(void) {
  takeSerial(takeAnswer());
  backToCalibrator();
  Dev.event = 5;
  Update();
  next(fRet[RET_PROC_BRENK_EXT_DORV].ok);
  return 0;
}

QUARN_API int32_t ProcBrenkextDorv_RxP(void) {
  const Answer a = takeAnswer();
  float v = 0.0f;
  if (a.ok && fieldFloat(a.text, 0, v)) {
    const float f = Dev.dorv.unitToKPa;
    if (f != 1.0f && f != 0.0f) v *= f;
    Dev.pRef = v;
    Dev.pRefUnits = v * Dev.settings.unitFactor;
    formatValue(Dev.pRefText, Dev.pRefUnits, Dev.settings.decimals);
    if (StatValue_AddValue(&Dev.refStat, v) == 0) cycleReadings.reference = true;
    backToCalibrator();
    Dev.event = 2;
    Update();
    next(fRet[RET_PROC_BRENK_EXT_DORV].ok);
    return 0;
  }
  Dev.pRef = NAN;
  Dev.pRefUnits = NAN;
  copyText(Dev.pRefText, kNoValueText);
  backToCalibrator();
  next(fRet[RET_PROC_BRENK_EXT_DORV].err);
  return 0;
}

/* ---- Quarn: wait until the calibrator reports a transducer -------------------------------------- */

QUARN_API int32_t WaitExtDorv_info(void) {
  pRS = &rs;
  send(kRqDorvState);
  next(WaitExtDorv_info_1, 300);
  return 0;
}

QUARN_API int32_t WaitExtDorv_info_1(void) {
  const Answer a = takeAnswer();
  if (a.complete) {
    char text[UAIL_RX_BUF_SIZE];
    copyText(text, a.text);
    if (ExtDorv_info_Str2Bin(&Dev.dorv, text) == 0 && Dev.dorv.present) {
      Dev.event = 5;
      Update();
      next(fRet[RET_WAIT_EXT_DORV_INFO].ok);
      return 0;
    }
  }
  next(WaitExtDorv_info, 300);
  return 0;
}

}  // extern "C"
