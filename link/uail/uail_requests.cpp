// Request builders (each switches the calibrator port to the UAIL line mode, frames the payload and
// starts sending it) and the repeat operations on the budget cRepeat.
#include <cstdio>
#include <cstring>

#include "core/quarn_core.h"
#include "serial/serial_port.h"
#include "uail/uail.h"

namespace {

enum : uint8_t {
  kTypeRegister = 37,
  kTypeFileOpen = 40,
  kTypeFileSeek = 41,
  kTypeFileRead = 42,
  kTypeFileWrite = 43,
  kTypeFileClose = 44,
};

uint32_t sendFrame(uint32_t h) {
  if (quarn_uail_tx_len == 0) return 0;
  return WritePortAsyncBin(uailRAW_TxStr, static_cast<int32_t>(quarn_uail_tx_len), h);
}

// The 8-digit hexadecimal encoding: the value's bytes least significant first, each byte high digit
// first (1.0f -> "0000803F").
void encodeHex32(uint32_t bits, char out[9]) {
  uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
  UAIL_HexToASCII(out, bytes, 4);
}

}  // namespace

extern "C" {

QUARN_API uint32_t Uail_Tx(uint32_t h, uint8_t addr, uint8_t type, const char* data) {
  RS_SetMode(RS_MODE_UAIL);
  char payload[UAIL_PAYLOAD_MAX + 2];
  const int n = data ? std::snprintf(payload, sizeof payload, "%d;%d;%s;", addr, type, data)
                     : std::snprintf(payload, sizeof payload, "%d;%d;", addr, type);
  if (n < 0 || static_cast<size_t>(n) > UAIL_PAYLOAD_MAX) {
    Uail_make_RAW(nullptr);  // refuses, and leaves nothing to repeat
    return 0;
  }
  if (!Uail_make_RAW(payload)) return 0;
  return sendFrame(h);
}

QUARN_API uint32_t tx(uint8_t type, const char* data) { return Uail_Tx(pRS->hCom, uail.addr, type, data); }

QUARN_API uint32_t Uail_txC(uint8_t type) { return tx(type, nullptr); }

QUARN_API uint32_t Uail_txI(uint8_t type, int32_t value) {
  char data[16];
  std::snprintf(data, sizeof data, "%d", value);
  return tx(type, data);
}

QUARN_API uint32_t Uail_txII(uint8_t type, int32_t a, int32_t b) {
  char data[32];
  std::snprintf(data, sizeof data, "%d;%d", a, b);
  return tx(type, data);
}

QUARN_API uint32_t Uail_txF(uint8_t type, float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  char data[9];
  encodeHex32(bits, data);
  return tx(type, data);
}

QUARN_API uint32_t Uail_txRqReg(uint8_t reg) {
  char data[3];
  std::snprintf(data, sizeof data, "%02X", reg);
  return tx(kTypeRegister, data);
}

QUARN_API uint32_t UAIL_File_Open_Rq(int32_t fileNo) { return Uail_txI(kTypeFileOpen, fileNo); }

QUARN_API uint32_t UAIL_File_Seek_Rq(int32_t position) { return Uail_txII(kTypeFileSeek, position, 0); }

QUARN_API uint32_t UAIL_File_Read_Rq(int32_t count) { return Uail_txI(kTypeFileRead, count); }

QUARN_API uint32_t UAIL_File_Write_Rq(const void* bytes, int32_t count) {
  // "a;43;" + data + ";" must fit one frame.
  constexpr int32_t kMaxBytes = (UAIL_PAYLOAD_MAX - 16) / 2;
  if (!bytes || count < 0 || count > kMaxBytes) return 0;
  char data[2 * kMaxBytes + 1];
  UAIL_HexToASCII(data, bytes, count);
  return tx(kTypeFileWrite, data);
}

QUARN_API uint32_t UAIL_File_Close_Rq(void) { return Uail_txI(kTypeFileClose, 0); }

QUARN_API uint32_t Uail_RepeatTx(void) {
  if (quarn_uail_tx_len == 0) return 0;
  RS_SetMode(RS_MODE_UAIL);
  return sendFrame(pRS->hCom);
}

QUARN_API int32_t RepeatUailTxOk(TStepFn onFail, uint32_t errorCode) {
  if (IsRxUailOk()) return 1;
  const int32_t before = cRepeat--;
  if (before < 1) {
    ToNext0(onFail);
    _SetDevErrorCode(errorCode);
    return 0;
  }
  Uail_RepeatTx();
  return 0;
}

QUARN_API void repErrUAIL(TStepFn onFail) {
  if (--cRepeat < 1) {
    ToNext0(onFail);
    return;
  }
  Uail_RepeatTx();
  cTimerDelay = 5;
}

}  // extern "C"
