// The sensor trim: the reference pressure is brought to Pmin and then to Pmax; at each, once the
// reference has stayed inside its corridor and every selected device's reading has been steady for
// the hold time, each selected device gets command 82 with the reference pressure as its lower or
// upper trim point. The trim rides on the measuring cycle, which returns into it after every cycle.
#include <cmath>

#include "hart/hart_proc_common.h"

using namespace quarn::hartproc;

namespace {

constexpr uint32_t kSelectWaitMs = 200;
constexpr uint32_t kTrimWaitMs = 1000;
constexpr uint8_t kPrimaryVariable = 0;
constexpr uint8_t kLowerTrimPoint = 1;
constexpr uint8_t kUpperTrimPoint = 2;
constexpr uint8_t kUnitsKPa = 12;

bool trimmed(int32_t ch) { return Dev.hart[ch].found != 0 && Dev.trimOn[ch] != 0; }

// One more measuring cycle that returns into `step`.
void measureOnce(TStepFn step) {
  fRet[RET_MEAS_CONTROL] = {step, fRet[RET_HART_TUNE_TRIM].err};
  now(MeasControl_1);
}

// The readiness test after a measuring cycle: the reference has stayed inside its corridor and
// every selected device is steady. A reference that left the corridor restarts the devices' hold.
bool settled() {
  TStatValue& ref = Dev.refStat;
  if (ref.corridorChanged || !ref.inCorridor) {
    ref.corridorChanged = 0;
    StatValue_ClearDevs();
    ref.min = ref.max = ref.value;
    return false;
  }
  for (int32_t ch = 0; ch < kChannels; ++ch)
    if (Dev.trimOn[ch] && !Dev.ch[ch].pStat.stable) return false;
  return true;
}

// The first channel from hartCh upwards that takes part; -1 when none is left.
int32_t nextTrimmedChannel() {
  for (int32_t ch = Dev.hartCh < 0 ? 0 : Dev.hartCh; ch < kChannels; ++ch)
    if (trimmed(ch)) return ch;
  return -1;
}

void startStage(float target) {
  Dev.pTarget = target;
  StatValue_ClearAll();
  Dev.refStat.target = target;
}

// One trim point written into every selected device in turn: select its channel, send command 82
// with the reference pressure, take the reply, go on with the next channel.
struct TrimPoint {
  uint8_t point;       // lower or upper trim point of command 82
  TStepFn selectStep;  // selects the next selected device's channel
  TStepFn writeStep;   // takes the select answer and sends command 82
  TStepFn replyStep;   // takes the device's reply
  TStepFn done;        // after the last device
  int textAtSelect;    // dsc[1] shown from the channel select on (-1: left as it is)
  int textAtWrite;     // dsc[1] shown from command 82 on (-1: left as it is)
};

const TrimPoint kLowerPoint{.point = kLowerTrimPoint,
                            .selectStep = Hart_Tune_Trim_Write_min_1,
                            .writeStep = Hart_Tune_Trim_Write_min_2,
                            .replyStep = Hart_Tune_Trim_Write_min_3,
                            .done = Hart_Tune_Trim_3,
                            .textAtSelect = DSC_TRIM_SENSOR_PMIN,
                            .textAtWrite = -1};
const TrimPoint kUpperPoint{.point = kUpperTrimPoint,
                            .selectStep = Hart_Tune_Trim_Write_max_1,
                            .writeStep = Hart_Tune_Trim_Write_max_2,
                            .replyStep = Hart_Tune_Trim_Write_max_3,
                            .done = Hart_Tune_Trim_fin,
                            .textAtSelect = -1,
                            .textAtWrite = DSC_TRIM_SENSOR_PMAX};

int32_t selectNextDevice(const TrimPoint& p) {
  if (p.textAtSelect >= 0) Dev.dsc[1] = dsc_[p.textAtSelect];
  const int32_t ch = nextTrimmedChannel();
  if (ch < 0) {
    now(p.done);
    return 0;
  }
  selectChannel(ch);
  after(p.writeStep, kSelectWaitMs);
  return 0;
}

int32_t writeTrimPoint(const TrimPoint& p) {
  const bool selected = kestoAnswerOkWithRepeats(p.writeStep, kSelectWaitMs, fRet[RET_HART_TUNE_TRIM].err);
  return quarn::core::requestThen(
      selected,
      [&p] {
        if (p.textAtWrite >= 0) Dev.dsc[1] = dsc_[p.textAtWrite];
        TxCmd_bbbf(82, kPrimaryVariable, p.point, kUnitsKPa, Dev.pRef);
      },
      p.replyStep, kTrimWaitMs);
}

int32_t takeTrimReply(const TrimPoint& p) {
  if (!replied(p.replyStep, kTrimWaitMs)) return 0;
  ++Dev.hartCh;
  now(p.selectStep);
  return 0;
}

}  // namespace

extern "C" {

QUARN_API int32_t Hart_Tune_Trim(void) {
  Dev.hartStage = 1;
  const float band = std::fabs(Dev.trimPmax - Dev.trimPmin) * Dev.trimCorridor / 100.0f;
  // A negative hold time counts as none.
  const uint32_t hold = Dev.trimTime > 0 ? static_cast<uint32_t>(Dev.trimTime) * 1000u : 0u;
  Dev.refStat.readyCorridor = band;
  for (int32_t ch = 0; ch < kChannels; ++ch) {
    if (!Dev.trimOn[ch]) continue;
    Dev.ch[ch].pStat.stableBand = band;
    Dev.ch[ch].pStat.holdMs = hold;
  }
  Dev.refStat.window = 3;
  for (TMeasCh& c : Dev.ch) {
    c.pStat.window = 5;
    c.iStat.window = 5;
  }
  startStage(Dev.trimPmin);
  Dev.dsc[0] = quarn_text_empty;
  Dev.controlMode = 1;
  Dev.dsc[1] = dsc_[DSC_SET_PMIN];
  Update();
  measureOnce(Hart_Tune_Trim_1);
  return 0;
}

QUARN_API int32_t Hart_Tune_Trim_1(void) {
  if (settled())
    now(Hart_Tune_Trim_Write_min);
  else
    measureOnce(Hart_Tune_Trim_1);
  return 0;
}

QUARN_API int32_t Hart_Tune_Trim_Write_min(void) {
  Dev.hartCh = 0;
  now(Hart_Tune_Trim_Write_min_1);
  return 0;
}

QUARN_API int32_t Hart_Tune_Trim_Write_min_1(void) { return selectNextDevice(kLowerPoint); }

QUARN_API int32_t Hart_Tune_Trim_Write_min_2(void) { return writeTrimPoint(kLowerPoint); }

QUARN_API int32_t Hart_Tune_Trim_Write_min_3(void) { return takeTrimReply(kLowerPoint); }

QUARN_API int32_t Hart_Tune_Trim_3(void) {
  Dev.hartStage = 2;
  TStatValue& ref = Dev.refStat;
  ref.inCorridor = ref.corridorChanged = ref.stable = ref.ready = 0;
  ref.holdLeftS = 0;
  Dev.dsc[1] = dsc_[DSC_SET_PMAX];
  startStage(Dev.trimPmax);
  measureOnce(Hart_Tune_Trim_4);
  return 0;
}

QUARN_API int32_t Hart_Tune_Trim_4(void) {
  if (settled())
    now(Hart_Tune_Trim_Write_max);
  else
    measureOnce(Hart_Tune_Trim_4);
  return 0;
}

QUARN_API int32_t Hart_Tune_Trim_Write_max(void) {
  Dev.hartCh = 0;
  now(Hart_Tune_Trim_Write_max_1);
  return 0;
}

QUARN_API int32_t Hart_Tune_Trim_Write_max_1(void) { return selectNextDevice(kUpperPoint); }

QUARN_API int32_t Hart_Tune_Trim_Write_max_2(void) { return writeTrimPoint(kUpperPoint); }

QUARN_API int32_t Hart_Tune_Trim_Write_max_3(void) { return takeTrimReply(kUpperPoint); }

QUARN_API int32_t Hart_Tune_Trim_fin(void) {
  if (Dev.task == TASK_HART_TUNE_TRIM) {
    Dev.event = 7;
    SetDevRetCode(1);
  }
  now(fRet[RET_HART_TUNE_TRIM].ok);
  return 0;
}

}  // extern "C"
