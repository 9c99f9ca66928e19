// The port records and the single-port operations: open, line mode, send, receive, close.
#include "serial/serial_port.h"

#include <cstring>
#include <thread>

#include "platform/quarn_host.h"
#include "serial/port_table.h"

namespace serial = quarn::serial;

namespace {

constexpr uint32_t kUailBaud = 9600;
constexpr uint32_t kHartBaud = 1200;

bool lineOfMode(int32_t mode, serial::LineSettings* line) {
  if (mode == RS_MODE_UAIL) {
    *line = {kUailBaud, RS_PARITY_NONE};
    return true;
  }
  if (mode == RS_MODE_HART) {
    *line = {kHartBaud, RS_PARITY_ODD};
    return true;
  }
  return false;
}

}  // namespace

extern "C" {

QUARN_API TRS rs;
QUARN_API TRS rsDorv;
QUARN_API TRS* pRS = &rs;

QUARN_API int32_t quarn_rs_handle_valid(uint32_t h) { return h != RS_HANDLE_NONE && h != RS_HANDLE_INVALID; }

QUARN_API uint32_t OpenPortAsync(int32_t portNo, uint32_t baud, int32_t parity) {
  if (portNo < 1) return RS_HANDLE_NONE;
  if (parity != RS_PARITY_NONE && parity != RS_PARITY_ODD) return RS_HANDLE_INVALID;
  const uint32_t h = serial::openPort(portNo, {baud, parity});
  if (h == RS_HANDLE_INVALID) return h;
  std::memset(&pRS->ovRead, 0, sizeof pRS->ovRead);
  std::memset(&pRS->ovWrite, 0, sizeof pRS->ovWrite);
  pRS->curPort = portNo;
  return h;
}

QUARN_API int32_t RS_SetMode(int32_t mode) {
  if (pRS->mode == mode) return 0;
  serial::LineSettings line;
  if (!lineOfMode(mode, &line)) return -1;
  if (pRS->hCom == RS_HANDLE_INVALID) return -1;
  pRS->mode = mode;
  // A port that is 0 or already gone simply does not change; the mode still counts as set.
  serial::setLine(pRS->hCom, line);
  quarn_sleep_ms(1);
  serial::purge(pRS->hCom);
  return 0;
}

QUARN_API uint32_t WritePortAsyncBin(const void* bytes, int32_t count, uint32_t h) {
  if (!quarn_rs_handle_valid(h) || count < 1 || !bytes) return 0;
  // A handle whose port is closed or gone fails like a vanished device.
  const int started = serial::send(h, static_cast<const uint8_t*>(bytes), static_cast<uint32_t>(count));
  if (started < 0) {
    serial::markLost(h);
    return 0;
  }
  return started ? 1u : 0u;
}

QUARN_API uint32_t WritePortAsyncStr(const char* text, uint32_t h) {
  if (!text) return 0;
  const size_t n = std::strlen(text);
  if (n > static_cast<size_t>(INT32_MAX)) return 0;
  return WritePortAsyncBin(text, static_cast<int32_t>(n), h);
}

QUARN_API int32_t ReadPortAsync(uint32_t h, void* buf, int32_t size) {
  auto* out = static_cast<uint8_t*>(buf);
  if (out && size > 0) out[0] = 0;
  if (!quarn_rs_handle_valid(h)) return -1;
  if (!out || size < 2) {
    // Nothing can be taken; whether bytes wait still tells "none" (0) from "cannot read" (-2).
    const int32_t waiting = serial::poll(h) ? serial::available(h) : -1;
    if (waiting < 0) {
      serial::markLost(h);
      return -1;
    }
    return waiting == 0 ? 0 : -2;
  }
  const int32_t got = serial::receive(h, out, static_cast<uint32_t>(size - 2));
  if (got < 0) {
    serial::markLost(h);
    return -1;
  }
  out[got] = 0;
  return got;
}

QUARN_API int32_t ReadPortAsyncRS(uint32_t h) { return ReadPortAsync(h, pRS->rxBuf, RS_RX_BUF_SIZE); }

QUARN_API int32_t ReadPortAsync0(void) { return ReadPortAsyncRS(pRS->hCom); }

QUARN_API void ClosePortAsync(uint32_t h) {
  if (!quarn_rs_handle_valid(h) || !serial::isOpen(h)) return;
  if (!serial::poll(h)) {
    // The device is gone: nothing to discard, but the port is released all the same.
    serial::close(h, false);
    return;
  }
  serial::close(h, true);
  quarn_sleep_ms(1);
}

QUARN_API void quarn_rs_purge(uint32_t h) {
  if (quarn_rs_handle_valid(h)) serial::purge(h);
}

QUARN_API void On_IOComplet(uint32_t, uint32_t, void*) { std::this_thread::yield(); }

QUARN_API void onError(void) {}

}  // extern "C"
