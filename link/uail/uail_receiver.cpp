// The UAIL answer receiver: a byte-by-byte state machine over the answer frame
//   '!' addr ';' ['$' code ';'] fields... CRC CR
// and RxUail, which feeds it with what has arrived on the calibrator port.
#include <array>
#include <cstdint>

#include "core/quarn_core.h"
#include "serial/serial_port.h"
#include "uail/uail.h"
#include "uail/uail_internal.h"

namespace {

constexpr std::array<uint8_t, 256> makeClassTable() {
  std::array<uint8_t, 256> t{};
  for (uint32_t c = 0; c < 256; ++c) {
    uint8_t k = UAIL_CH_PRINTABLE;
    if (c == '!')
      k = UAIL_CH_START;
    else if ((c >= '0' && c <= '9') || c == 'E' || c == 'e' || c == '+' || c == '-' || c == '.')
      k = UAIL_CH_NUMERIC;
    else if ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))
      k = UAIL_CH_HEX;
    else if (c == ';')
      k = UAIL_CH_SEP;
    else if (c == '$')
      k = UAIL_CH_ERROR;
    else if (c == '\r')
      k = UAIL_CH_END;
    else if (c < 0x21)
      k = UAIL_CH_BLANK;
    t[c] = k;
  }
  return t;
}

constexpr std::array<uint8_t, 256> kClass = makeClassTable();

constexpr const char* kNoBufferText = "pMainRes\t== NULL!   Call\tUAIL_Init()!!!";

bool g_lastComplete = false;

void startAnswer(TUail* rx) {
  rx->wr = rx->buf;
  rx->buf[0] = '\0';
  rx->crc = 0xFFFF;
  rx->fieldVal = 0;
  rx->len = 0;
  rx->rxErr = 0;
  rx->afterSep = nullptr;
  rx->state = UAIL_ST_ADDR_FIRST;
}

int32_t receiveError(TUail* rx) {
  rx->rxErr = UAIL_RX_ERR_DAMAGED;
  rx->state = UAIL_ST_WAIT_START;
  return 0;
}

// Stores one byte of the kept text; the text stays terminated. False when the buffer is full.
bool store(TUail* rx, uint8_t c) {
  if (rx->wr < rx->buf || rx->wr >= rx->buf + (UAIL_RX_BUF_SIZE - 1)) return false;
  *rx->wr++ = static_cast<char>(c);
  *rx->wr = '\0';
  return true;
}

void markSeparator(TUail* rx) {
  rx->crcAtSep = rx->crc;
  rx->afterSep = rx->wr;
  rx->fieldVal = 0;
}

// The checksum text is what was stored since the last separator. It counts only when it is a
// decimal number whose whole value equals the CRC: fieldVal keeps 16 bits and would take 65536 more
// (or a letter in between) for a match.
bool checksumMatches(const TUail* rx) {
  const char* p = rx->afterSep;
  if (!p || p >= rx->wr) return false;
  uint32_t value = 0;
  for (; p < rx->wr; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10u + static_cast<uint32_t>(*p - '0');
    if (value > 0xFFFFu) return false;
  }
  return value == rx->crcAtSep;
}

int32_t dataByte(TUail* rx, uint8_t c, uint8_t k) {
  switch (k) {
    case UAIL_CH_NUMERIC:
      rx->fieldVal = static_cast<uint16_t>(rx->fieldVal * 10u + static_cast<uint16_t>(c - '0'));
      return store(rx, c) ? 0 : receiveError(rx);
    case UAIL_CH_HEX:
    case UAIL_CH_PRINTABLE:
      return store(rx, c) ? 0 : receiveError(rx);
    case UAIL_CH_SEP:
      if (!store(rx, c)) return receiveError(rx);
      markSeparator(rx);
      return 0;
    case UAIL_CH_END:
      // Without a separator in this answer there is no checksum position to compare against.
      if (!checksumMatches(rx)) return receiveError(rx);
      *rx->afterSep = '\0';
      rx->len = static_cast<uint32_t>(rx->afterSep - rx->buf);
      rx->state = UAIL_ST_WAIT_START;
      return 1;
    default:
      return receiveError(rx);
  }
}

}  // namespace

namespace quarn::uail {
bool lastAnswerComplete() { return g_lastComplete; }

int32_t receive(const uint8_t* bytes, int32_t n) {
  UAIL_Init(&::uail);
  g_lastComplete = false;
  for (int32_t i = 0; i < n; ++i) {
    if (!UAIL_RxChar(bytes[i], &::uail)) continue;
    if (::uail.rxErr != 0) Update();
    cRepeat = 3;
    g_lastComplete = true;
    return 1;
  }
  return 0;
}
}  // namespace quarn::uail

extern "C" {

QUARN_API char uail_RxStr[UAIL_RX_BUF_SIZE];
QUARN_API TUail uail;

QUARN_API int32_t quarn_uail_answer_error(const char** text) {
  // The text is set only when an error block arrives, so after an answer without one it is stale.
  if (text) *text = uail.rxErr != 0 && uail.rxErrText ? uail.rxErrText : "";
  return uail.rxErr;
}

QUARN_API int32_t UAIL_getTypeChar(uint8_t c) { return kClass[c]; }

QUARN_API int32_t UAIL_RxChar(uint8_t c, TUail* rx) {
  if (!rx) return 0;
  const uint8_t k = kClass[c];
  if (!rx->buf) {
    if (k == UAIL_CH_START) std_out(kNoBufferText);
    rx->state = UAIL_ST_WAIT_START;
    return 0;
  }
  if (k == UAIL_CH_START) {
    startAnswer(rx);
    return 0;
  }
  rx->crc = UpdateMemCRC(c, rx->crc);
  switch (rx->state) {
    case UAIL_ST_WAIT_START:
      return 0;
    case UAIL_ST_ADDR_FIRST:
      if (k != UAIL_CH_NUMERIC) return receiveError(rx);
      rx->addr = static_cast<uint8_t>(c - '0');
      rx->state = UAIL_ST_ADDR_SECOND;
      return 0;
    case UAIL_ST_ADDR_SECOND:
    case UAIL_ST_ADDR_MORE:
      if (k == UAIL_CH_NUMERIC) {
        rx->addr = static_cast<uint8_t>(rx->addr * 10u + static_cast<uint8_t>(c - '0'));
        rx->state = UAIL_ST_ADDR_MORE;
        return 0;
      }
      if (k == UAIL_CH_SEP) {
        rx->state = UAIL_ST_AFTER_ADDR;
        return 0;
      }
      return receiveError(rx);
    case UAIL_ST_AFTER_ADDR:
      if (k == UAIL_CH_ERROR) {
        rx->state = UAIL_ST_ERR_FIRST;
        return 0;
      }
      rx->state = UAIL_ST_DATA;
      return dataByte(rx, c, k);
    case UAIL_ST_DATA:
      return dataByte(rx, c, k);
    case UAIL_ST_ERR_FIRST:
      if (k != UAIL_CH_NUMERIC) return receiveError(rx);
      rx->rxErr = static_cast<uint8_t>(c - '0');
      rx->state = UAIL_ST_ERR_MORE;
      return 0;
    case UAIL_ST_ERR_MORE:
      if (k == UAIL_CH_NUMERIC) {
        rx->rxErr = static_cast<uint8_t>(rx->rxErr * 10u + static_cast<uint8_t>(c - '0'));
        return 0;
      }
      if (k == UAIL_CH_SEP) {
        markSeparator(rx);
        rx->rxErrText = UAIL_ErrorCode_to_str(rx->rxErr);
        rx->state = UAIL_ST_DATA;
        return 0;
      }
      return receiveError(rx);
    default:
      return receiveError(rx);
  }
}

QUARN_API void UAIL_Reset(TUail* rx) {
  if (!rx) return;
  if (!rx->buf) {
    std_out(kNoBufferText);
    return;
  }
  rx->state = UAIL_ST_WAIT_START;
  rx->crc = 0xFFFF;
  rx->wr = rx->buf;
  rx->buf[0] = '\0';
  rx->fieldVal = 0;
  rx->len = 0;
  rx->rxErr = 0;
  rx->afterSep = nullptr;
}

QUARN_API void UAIL_Init(TUail* rx) {
  if (!rx) return;
  rx->buf = uail_RxStr;
  UAIL_Reset(rx);
}

QUARN_API int32_t RxUail(void) { return quarn::uail::receive(pRS->rxBuf, ReadPortAsync0()); }

QUARN_API int32_t IsRxUailOk(void) { return RxUail() == 1 && uail.rxErr == 0 ? 1 : 0; }

}  // extern "C"
