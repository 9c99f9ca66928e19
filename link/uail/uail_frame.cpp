// Request frames: 0xFF ':' payload CRC CR, kept in uailRAW_TxStr so the last request can be repeated.
#include <cstdio>
#include <cstring>

#include "uail/uail.h"

namespace {

constexpr size_t kHeader = 2;  // 0xFF ':'

void initHeader() {
  uailRAW_TxStr[0] = static_cast<char>(0xFF);
  uailRAW_TxStr[1] = ':';
}

}  // namespace

extern "C" {

QUARN_API char uailRAW_TxStr[UAIL_TX_BUF_SIZE] = {static_cast<char>(0xFF), ':'};
QUARN_API uint32_t quarn_uail_tx_len = 0;

QUARN_API const char* Uail_make_RAW(const char* payload) {
  const size_t len = payload ? strnlen(payload, UAIL_PAYLOAD_MAX + 1) : UAIL_PAYLOAD_MAX + 1;
  if (len > UAIL_PAYLOAD_MAX) {
    // Nothing half-built may be sent or repeated.
    initHeader();
    uailRAW_TxStr[kHeader] = '\0';
    quarn_uail_tx_len = 0;
    return nullptr;
  }
  initHeader();
  std::memmove(uailRAW_TxStr + kHeader, payload, len);
  const uint32_t crc = CalcMemCRC(uailRAW_TxStr + kHeader, static_cast<uint16_t>(len));
  const int tail =
      std::snprintf(uailRAW_TxStr + kHeader + len, sizeof uailRAW_TxStr - kHeader - len, "%u\r", crc);
  quarn_uail_tx_len = static_cast<uint32_t>(kHeader + len + static_cast<size_t>(tail));
  return uailRAW_TxStr;
}

QUARN_API const char* Uail_sl_I(int32_t a, int32_t b) {
  char payload[32];
  std::snprintf(payload, sizeof payload, "%d;%d;", a, b);
  return Uail_make_RAW(payload);
}

QUARN_API const char* Uail_sl_err(int32_t a, int32_t code) {
  char payload[32];
  std::snprintf(payload, sizeof payload, "%d;$%d;", a, code);
  return Uail_make_RAW(payload);
}

}  // extern "C"
