// HART device search over the four channels and the read of one device's information.
#include "hart/hart_internal.h"
#include "hart/hart_proc_common.h"

using namespace quarn::hartproc;

namespace {

constexpr uint32_t kSelectWaitMs = 300;
constexpr uint32_t kSelectedToPollMs = 200;
constexpr uint32_t kPollWaitMs = 1000;
constexpr uint32_t kReadWaitMs = 800;
constexpr uint32_t kLastPollingAddress = 63;

// Set while a poll has been sent a second time after an answer that could not be decoded.
bool g_pollRepeated = false;

// Sends a read command of the chain.
void sendRead(uint32_t command, TStepFn next) {
  TxCmd(command);
  ++Dev.hartProgress;
  Update();
  awaitAnswer(next, kReadWaitMs);
}

bool stillWaiting(Reply reply) { return reply == Reply::Busy || reply == Reply::Pending; }

// A step of the read chain: takes the answer to the previous read (whatever it holds), then sends the
// next one. A busy device is asked the previous read again first.
int32_t readStep(TStepFn self, uint32_t command, TStepFn next) {
  if (stillWaiting(takeAnswer(self, kReadWaitMs))) return 0;
  sendRead(command, next);
  return 0;
}

}  // namespace

extern "C" {

/* ---- Search ------------------------------------------------------------------------------------- */

QUARN_API int32_t Hart_Search(void) {
  Dev.hartCh = -1;
  Dev.hartFirstCh = -1;
  startSearchWindows();
  InitDevHart();
  Update();
  fRet[RET_KESTO_READ_ERR] = {Hart_Search_SelectHARTchRq, fRet[RET_HART_SEARCH].err};
  now(Kesto_ReadErrorOpenFile);
  return 0;
}

QUARN_API int32_t Hart_Search_SelectHARTchRq(void) {
  for (int32_t ch = 0; ch < kChannels; ++ch) Dev.hartChk[ch].active = usable(ch) ? 1u : 0u;
  if (Kesto_SelectNextHARTch() >= 0) {
    Dev.hartPollAdr = 0;
    awaitSelectAnswer(Hart_Search_SelectHARTchAc, kSelectWaitMs);
    return 0;
  }
  endSearchWindows();
  Hart_Dev_Data_Upd();
  // The silent polls of a channel without a device leave "no HART device" pending; once a device was
  // found that does not describe the search. With nothing found it stays.
  if (Dev.hartFirstCh >= 0 && Dev.errCode == ERR_NO_HART_DEVICE) ClearDevErrorCode();
  Dev.event = 6;
  Update();
  after(fRet[RET_HART_SEARCH].ok, 1);
  return 0;
}

QUARN_API int32_t Hart_Search_SelectHARTchAc(void) {
  if (!selectAnswerReady(Hart_Search_SelectHARTchAc)) return 0;
  if (searchSelectAnswerOkWithRepeats(Hart_Search_SelectHARTchAc, kSelectWaitMs, fRet[RET_HART_SEARCH].err))
    after(Hart_Search_ID_Rq, kSelectedToPollMs);
  return 0;
}

QUARN_API int32_t Hart_Search_ID_Rq(void) {
  Update();
  RS_SetMode(2);
  TxCmd_0(Dev.hartPollAdr);
  g_pollRepeated = false;
  awaitAnswer(Hart_Search_ID_Ac, kPollWaitMs);
  return 0;
}

QUARN_API int32_t Hart_Search_ID_Ac(void) {
  const Reply reply = takeAnswer(Hart_Search_ID_Ac, kPollWaitMs);
  if (stillWaiting(reply)) return 0;
  // A fast search ends a poll early; an answer it got in pieces (a damaged frame, noise) is asked
  // for once more before the address counts as empty.
  if (reply == Reply::Other && answerBroken() && !g_pollRepeated) {
    g_pollRepeated = true;
    quarn::hart::repeatLastRequest();
    awaitAnswer(Hart_Search_ID_Ac, kPollWaitMs);
    return 0;
  }
  if (reply == Reply::Good) {
    SetDevRetCode(3);
    Dev.hartProgress = 1;
    fRet[RET_HART_READ_DEV_INFO] = {Hart_Search_ToNextCh, Hart_Search_ToNextCh};
    Dev.dsc[1] = dsc_[DSC_READ_PARAMS];
    now(Hart_ReadDeviceInfo);
    return 0;
  }
  const uint32_t tried = Dev.hartPollAdr++;
  now(tried < kLastPollingAddress ? Hart_Search_ID_Rq : Hart_Search_SelectHARTchRq);
  return 0;
}

QUARN_API int32_t Hart_Search_ToNextCh(void) {
  if (Dev.hartFirstCh < 0) Dev.hartFirstCh = Dev.hartCh;
  now(Hart_Search_SelectHARTchRq);
  return 0;
}

/* ---- Device information ------------------------------------------------------------------------- */

QUARN_API int32_t Hart_ReadDeviceInfo(void) {
  sendRead(0, Hart_ReadDeviceInfo_1);
  return 0;
}
QUARN_API int32_t Hart_ReadDeviceInfo_1(void) {
  return readStep(Hart_ReadDeviceInfo_1, 7, Hart_ReadDeviceInfo_2);
}
QUARN_API int32_t Hart_ReadDeviceInfo_2(void) {
  return readStep(Hart_ReadDeviceInfo_2, 13, Hart_ReadDeviceInfo_3);
}
QUARN_API int32_t Hart_ReadDeviceInfo_3(void) {
  return readStep(Hart_ReadDeviceInfo_3, 14, Hart_ReadDeviceInfo_4);
}
QUARN_API int32_t Hart_ReadDeviceInfo_4(void) {
  return readStep(Hart_ReadDeviceInfo_4, 15, Hart_ReadDeviceInfo_5);
}
QUARN_API int32_t Hart_ReadDeviceInfo_5(void) {
  return readStep(Hart_ReadDeviceInfo_5, 128, Hart_ReadDeviceInfo_6);
}

QUARN_API int32_t Hart_ReadDeviceInfo_6(void) {
  if (stillWaiting(takeAnswer(Hart_ReadDeviceInfo_6, kReadWaitMs))) return 0;
  Dev.dsc[1] = quarn_text_empty;
  const int32_t ch = Dev.hartCh;
  if (validChannel(ch)) Dev.hart[ch].found = 1;
  ++Dev.hartProgress;
  Hart_Dev_Data_Upd1(ch);
  SetDevRetCode(5);
  Dev.event = 9;
  Update();
  now(fRet[RET_HART_READ_DEV_INFO].ok);
  return 0;
}

}  // extern "C"
