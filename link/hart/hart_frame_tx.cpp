// Sending HART requests: every sender builds its frame in rawHART for the selected record (hdi),
// marks the pending outcome "no HART device" (errCode 1) until an answer says otherwise, switches the
// calibrator's port to the HART line mode and starts the write.
#include <cstring>

#include "core/quarn_core.h"
#include "hart/hart_master.h"
#include "serial/serial_port.h"

namespace {

constexpr uint32_t kReadStepDelayMs = 800;

// Steps 3 to 5 of every transmission: the length may be negative (nothing built), and then nothing
// is written.
int32_t transmit(int32_t length) {
  Dev.errCode = ERR_NO_HART_DEVICE;  // errText is left as it is
  RS_SetMode(RS_MODE_HART);
  if (length < 1 || length > HART_FRAME_MAX) return 0;
  return static_cast<int32_t>(WritePortAsyncBin(rawHART, length, pRS->hCom));
}

int32_t sendRequest(uint32_t command, int32_t n, const uint8_t* data) {
  const int32_t length =
      check_DeviceInfo(hdi) == 0 ? FormRq(rawHART, hdi->longAddress, command, n, data) : HART_ERR_RECORD;
  return transmit(length);
}

uint8_t* putFloat(uint8_t* p, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  float2hex(bits, p);
  return p + 4;
}

}  // namespace

extern "C" {

QUARN_API int32_t TxCmd(uint32_t command) { return sendRequest(command, 0, nullptr); }

QUARN_API int32_t TxCmd_b(uint32_t command, uint8_t b) { return sendRequest(command, 1, &b); }

QUARN_API int32_t TxCmd_bb(uint32_t command, uint8_t b1, uint8_t b2) {
  const uint8_t data[2] = {b1, b2};
  return sendRequest(command, 2, data);
}

QUARN_API int32_t TxCmd_f(uint32_t command, float f) {
  uint8_t data[4];
  putFloat(data, f);
  return sendRequest(command, 4, data);
}

QUARN_API int32_t TxCmd_ff(uint32_t command, float f1, float f2) {
  uint8_t data[8];
  putFloat(putFloat(data, f1), f2);
  return sendRequest(command, 8, data);
}

QUARN_API int32_t TxCmd_bbbf(uint32_t command, uint8_t b1, uint8_t b2, uint8_t b3, float f) {
  uint8_t data[7] = {b1, b2, b3};
  putFloat(data + 3, f);
  return sendRequest(command, 7, data);
}

QUARN_API int32_t TxCmd_bff(uint32_t command, uint8_t b, float f1, float f2) {
  uint8_t data[9] = {b};
  putFloat(putFloat(data + 1, f1), f2);
  return sendRequest(command, 9, data);
}

QUARN_API int32_t TxCmd_0(uint32_t p) { return transmit(FormShortRq0(rawHART, p)); }

QUARN_API int32_t transpTx(int32_t n) { return transmit(n); }

QUARN_API int32_t hTx(uint32_t command, TStepFn next) {
  HART_Rx();
  TxCmd(command);
  ++Dev.hartProgress;
  Update();
  ToNext(next, kReadStepDelayMs);
  return 0;
}

}  // extern "C"
