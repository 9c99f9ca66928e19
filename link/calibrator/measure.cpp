// The measuring cycle: ask the calibrator for the reference pressure and its state, let pressure
// control send what is pending, read the Kesto module's currents, notify, and start again.
#include <cmath>
#include <cstring>

#include "calibrator/answer_fields.h"
#include "calibrator/calibrator.h"
#include "calibrator/cycle_readings.h"
#include "calibrator/model_flags.h"
#include "calibrator/uail_link.h"
#include "calibrator/valve_state.h"
#include "core/TDevValues.h"

using namespace quarn::cal;

namespace {

constexpr uint8_t kRqMeasure = 1;
constexpr uint8_t kRqDorvState = 5;
constexpr int32_t kRefSourceDorv = REF_SOURCE_EXTERNAL;

void setReference(float kPa) {
  Dev.pRef = kPa;
  Dev.pRefUnits = kPa * Dev.settings.unitFactor;
  if (StatValue_AddValue(&Dev.refStat, kPa) == 0) cycleReadings.reference = true;
}

void copyTextField(std::string_view text, int k, char (&dst)[20]) {
  std::string_view f;
  if (answerField(text, k, f))
    copyText(dst, f);
  else
    copyText(dst, kNoValueText);
}

// State word of the Quarn: bit 0 low-range module in use, bit 1 vent open, bit 2 input open. An
// answer without a readable state word (an error answer, a stray answer of another request) tells
// nothing about the valves: they keep the states last reported, which the next valve command would
// otherwise overwrite in the device.
void takeStateWord(std::string_view text) {
  int32_t word = 0;
  if (!fieldInt(text, 4, word)) return;
  Dev.sensorState = (word & 1) ? 1 : 2;
  Dev.ventOn = (word >> 1) & 1;
  Dev.inputOn = (word >> 2) & 1;
  valveStatesReported = true;
}

void measuredQuarn() {
  const Answer a = takeAnswer();
  if (!a.ok) ++Dev.measRepeats;
  if (!a.complete) {
    // Nothing usable came (silence, noise, a damaged frame): ask again while attempts are left.
    if (spendRepeat(a))
      next(MeasControl_1);
    else
      next(Connect_NotFound);
    return;
  }
  if (!a.ok) {
    copyText(Dev.pRefText, kNoValueText);
    copyText(Dev.baroText, kNoValueText);
    copyText(Dev.speedText, kNoValueText);
    Dev.pRef = NAN;
    Dev.pRefUnits = NAN;
  } else {
    float p = 0.0f;
    if (fieldHexFloat(a.text, 0, p)) setReference(p);
    copyTextField(a.text, 1, Dev.pRefText);
    copyTextField(a.text, 2, Dev.baroText);
    copyTextField(a.text, 3, Dev.speedText);
  }
  takeStateWord(a.text);
  cRepeat = 3;
  Dev.event = 2;
  Update();
  next(MeasControl_25);
}

void measuredBrenk() {
  const Answer a = takeAnswer();
  if (!a.ok) {
    ++Dev.measRepeats;
    if (spendRepeat(a))
      next(MeasControl_1, 100);
    else
      next(Connect_NotFound, 1);
    return;
  }
  float v = 0.0f;
  if (fieldHexFloat(a.text, 1, v)) formatValue(Dev.baroText, v, Dev.settings.decimals);
  // With the Dorv as the reference the pressure comes from the transducer's reading instead.
  if (fieldHexFloat(a.text, 0, v) && Dev.settings.refSource != kRefSourceDorv) {
    setReference(v);
    formatValue(Dev.pRefText, Dev.pRefUnits, Dev.settings.decimals);
  }
  Dev.event = 2;
  Update();
  next(MeasControl_25);
}

}  // namespace

extern "C" {

QUARN_API uint32_t quarn_cycle_readings(void) {
  return (cycleReadings.reference ? QUARN_CYCLE_REFERENCE : 0u) |
         (cycleReadings.kesto ? QUARN_CYCLE_KESTO : 0u) |
         (cycleReadings.currents ? QUARN_CYCLE_CHANNELS : 0u);
}

QUARN_API int32_t MeasControl_1(void) {
  if (Dev.measTimeStart != 0)
    StatValue_AddValue(&Dev.cycleStat,
                       static_cast<float>(static_cast<uint32_t>(Dev.tick - Dev.measTimeStart)));
  useCalibratorPort(kAddrCalibrator);
  Dev.measTimeStart = Dev.tick;
  cycleReadings = {};

  if (quarnModel()) {
    if (Dev.settings.refSource == kRefSourceDorv) {
      send(kRqDorvState);
      next(MeasControl_ExtDorvstate_Quarn_2, 130);
    } else {
      send(kRqMeasure);
      next(MeasControl_2, 220);
    }
  } else if (Dev.settings.refSource == kRefSourceDorv) {
    fRet[RET_PROC_BRENK_EXT_DORV] = {MeasControl_15, MeasControl_15};
    next(ProcBrenkextDorv);
  } else {
    next(MeasControl_15);
  }
  return 0;
}

QUARN_API int32_t MeasControl_ExtDorvstate_Quarn_2(void) {
  const Answer a = takeAnswer();
  if (a.ok) {
    // The text is copied: the converter notifies the host, which may look at the receiver.
    char text[UAIL_RX_BUF_SIZE];
    copyText(text, a.text);
    ExtDorv_info_Str2Bin(&Dev.dorv, text);
  }
  send(kRqMeasure);
  next(MeasControl_2, 180);
  return 0;
}

QUARN_API int32_t MeasControl_15(void) {
  useCalibratorPort(kAddrCalibrator);
  send(kRqMeasure);
  next(MeasControl_2, 200);
  return 0;
}

QUARN_API int32_t MeasControl_2(void) {
  if (quarnModel())
    measuredQuarn();
  else
    measuredBrenk();
  return 0;
}

QUARN_API int32_t MeasControl_25(void) {
  fRet[RET_CONTROL] = {MeasControl_3, MeasControl_3};
  next(Control);
  return 0;
}

QUARN_API int32_t MeasControl_3(void) {
  if (Dev.kestoEnabled == 0) {
    next(fRet[RET_MEAS_CONTROL].ok);
    return 0;
  }
  fRet[RET_KESTO_START_READ] = fRet[RET_MEAS_CONTROL];
  next(Kesto_StartRead);
  return 0;
}

}  // extern "C"
