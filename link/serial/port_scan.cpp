// Operations over all port numbers at once (used while searching for the calibrator), closing the
// ports of a search, and the small send/receive helpers on the port in use.
#include <cstdio>
#include <cstring>

#include "serial/port_table.h"
#include "serial/serial_port.h"

namespace serial = quarn::serial;

namespace {

// Text formatted by Tx_Int / Tx_Float.
constexpr size_t kTxTextSize = 256;

const char* rxText() { return reinterpret_cast<const char*>(pRS->rxBuf); }

// The first port whose received bytes (from the first occurrence of the format's first character)
// scan to exactly one value wins. `counts` limits which port numbers may win.
template <typename Counts>
int32_t scanForValue(uint32_t* table, const char* format, void* dest, Counts counts) {
  if (!table || !format || !*format || !dest) return 0;
  for (int32_t n = RS_PORT_FIRST; n <= RS_PORT_LAST; ++n) {
    if (ReadPortAsyncRS(table[n]) <= 0 || !counts(n)) continue;
    const char* from = std::strchr(rxText(), format[0]);
    if (!from) continue;
      // The format is the caller's constant with one conversion; the received text is only data.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (std::sscanf(from, format, dest) == 1) return n;
#pragma GCC diagnostic pop
  }
  return 0;
}

}  // namespace

extern "C" {

QUARN_API void ClosePorts(int32_t keep) {
  for (int32_t n = RS_PORT_FIRST; n <= RS_PORT_LAST; ++n) {
    if (n == keep) continue;
    ClosePortAsync(pRS->hPort[n]);
    pRS->hPort[n] = RS_HANDLE_INVALID;
  }
  if (keep < 1) pRS->hCom = RS_HANDLE_NONE;
}

QUARN_API void ClosePorts2(int32_t keepA, int32_t keepB) {
  for (int32_t n = RS_PORT_FIRST; n <= RS_PORT_LAST; ++n) {
    if (n == keepA || n == keepB || !quarn_rs_handle_valid(pRS->hPort[n])) continue;
    ClosePortAsync(pRS->hPort[n]);
    pRS->hPort[n] = RS_HANDLE_INVALID;
  }
}

QUARN_API int32_t ScanOpenPorts(uint32_t* table, uint32_t baud) {
  if (!table) return 0;
  int32_t opened = 0;
  for (int32_t n = RS_PORT_FIRST; n <= RS_PORT_LAST; ++n) {
    // An entry still open from an earlier search is closed first, so its port is not left behind
    // unreachable when the entry is overwritten.
    if (serial::isOpen(table[n])) ClosePortAsync(table[n]);
    table[n] = OpenPortAsync(n, baud, RS_PARITY_NONE);
    if (quarn_rs_handle_valid(table[n])) ++opened;
  }
  return opened;
}

QUARN_API int32_t ScanTxPorts(const char* text, uint32_t* table) {
  if (!text || !table) return 0;
  int32_t anyTook = 0;
  for (int32_t n = RS_PORT_FIRST; n <= RS_PORT_LAST; ++n) {
    if (table[n] == RS_HANDLE_NONE) {
      table[n] = RS_HANDLE_INVALID;
      continue;
    }
    if (table[n] == RS_HANDLE_INVALID) continue;
    if (WritePortAsyncStr(text, table[n]))
      anyTook = 1;
    else
      table[n] = RS_HANDLE_INVALID;
  }
  return anyTook;
}

QUARN_API int32_t ScanRxPorts(uint32_t* table, const char* text) {
  if (!table || !text) return 0;
  for (int32_t n = RS_PORT_FIRST; n <= RS_PORT_LAST; ++n) {
    if (ReadPortAsyncRS(table[n]) <= 0) continue;
    if (std::strstr(rxText(), text)) {
      pRS->hCom = table[n];
      return n;
    }
  }
  return 0;
}

QUARN_API int32_t ScanRxPortsI(uint32_t* table, const char* format, void* dest) {
  return scanForValue(table, format, dest, [](int32_t) { return true; });
}

QUARN_API int32_t ScanRxPortsII(uint32_t* table, const char* format, void* dest, int32_t portA,
                                int32_t portB) {
  return scanForValue(table, format, dest, [=](int32_t n) { return n == portA || n == portB; });
}

QUARN_API uint32_t Tx_Int(int32_t value, const char* format) {
  if (!format) return 0;
  char text[kTxTextSize];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int n = std::snprintf(text, sizeof text, format, value);
#pragma GCC diagnostic pop
  if (n < 1) return 0;
  return WritePortAsyncStr(text, pRS->hCom);
}

QUARN_API uint32_t Tx_Float(float value, const char* format) {
  if (!format) return 0;
  char text[kTxTextSize];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int n = std::snprintf(text, sizeof text, format, static_cast<double>(value));
#pragma GCC diagnostic pop
  if (n < 1) return 0;
  return WritePortAsyncStr(text, pRS->hCom);
}

QUARN_API uint32_t Tx_Str(const char* text, uint32_t h) { return WritePortAsyncStr(text, h); }

QUARN_API int32_t Rx_Float(float* dest, const char* format) {
  if (!dest || !format) return 0;
  if (ReadPortAsync0() <= 0) return 0;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  return std::sscanf(rxText(), format, dest) == 1 ? 1 : 0;
#pragma GCC diagnostic pop
}

QUARN_API int32_t Rx_StrCompare(const char* text, uint32_t h) {
  if (!text) return 0;
  if (ReadPortAsyncRS(h) <= 0) return 0;
  return std::strstr(rxText(), text) ? 1 : 0;
}

}  // extern "C"
