#include "calibrator/uail_link.h"

#include "calibrator/procedure_state.h"

namespace quarn::cal {

bool goodAnswer(Retry retry, TStepFn again, Answer* out) {
  const Answer a = takeAnswer();
  if (out) *out = a;
  if (a.ok) return true;
  retry(a, again);
  return false;
}

bool spendRepeat(const Answer& a) {
  if (a.complete && cRepeat > a.budgetBefore) cRepeat = a.budgetBefore;
  --cRepeat;
  return cRepeat >= 1;
}

namespace {
// The module the procedure addresses. The receiver overwrites uail.addr with the address of every
// answer it parses, so a stray answer from another module must not redirect the next request: each
// request puts this address back first.
uint8_t g_addr = kAddrCalibrator;
}  // namespace

void resetModuleAddress() { g_addr = kAddrCalibrator; }

void address(uint8_t addr) {
  g_addr = addr;
  uail.addr = addr;
}

void useCalibratorPort(uint8_t addr) {
  pRS = &rs;
  address(addr);
}
uint8_t currentAddress() { return g_addr; }

void send(uint8_t type) {
  uail.addr = g_addr;
  Uail_txC(type);
}
void sendInt(uint8_t type, int32_t value) {
  uail.addr = g_addr;
  Uail_txI(type, value);
}
void sendInts(uint8_t type, int32_t a, int32_t b) {
  uail.addr = g_addr;
  Uail_txII(type, a, b);
}
void sendText(uint8_t type, const char* data) {
  uail.addr = g_addr;
  tx(type, data);
}
void sendFloatHex(uint8_t type, float value) {
  uail.addr = g_addr;
  Uail_txF(type, value);
}
void sendRegisterRead(uint8_t reg) {
  uail.addr = g_addr;
  Uail_txRqReg(reg);
}
void sendFileOpen(int32_t fileNo) {
  uail.addr = g_addr;
  UAIL_File_Open_Rq(fileNo);
}
void sendFileSeek(int32_t position) {
  uail.addr = g_addr;
  UAIL_File_Seek_Rq(position);
}
void sendFileRead(int32_t count) {
  uail.addr = g_addr;
  UAIL_File_Read_Rq(count);
}
void sendFileWrite(const void* bytes, int32_t count) {
  uail.addr = g_addr;
  UAIL_File_Write_Rq(bytes, count);
}
void repeatLastRequest() { Uail_RepeatTx(); }

void next(TStepFn step, uint32_t ms) {
  if (ms == 0)
    ToNext0(step);
  else
    ToNext(step, ms);
}

}  // namespace quarn::cal
