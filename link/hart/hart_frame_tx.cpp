// Sending HART requests: every sender builds its frame in rawHART for the selected record (hdi),
// marks the pending outcome "no HART device" (errCode 1 with its text) until an answer says
// otherwise, switches the calibrator's port to the HART line mode and starts the write.
#include <algorithm>
#include <cstring>

#include "core/quarn_core.h"
#include "hart/hart_internal.h"
#include "hart/hart_master.h"
#include "serial/serial_port.h"

namespace {

constexpr uint32_t kReadStepDelayMs = 800;
// A request carries at least the preambles the device asked for in its command 0 answer, never fewer
// than the five every frame builder writes, and no more than the twenty a HART device may ask for.
constexpr int32_t kBuilderPreambles = 5;
constexpr int32_t kMostPreambles = 20;

// Length of the frame last written from rawHART; a repeat sends the same bytes again.
int32_t g_lastLength = 0;
// When the last request whose write was started will have left the port, and how many were started.
uint32_t g_lastRequestEndMs = 0;
uint32_t g_requestsSent = 0;

// One character on the calibrator's port in the HART line mode: start bit, 8 data bits, odd parity
// and the two stop bits the port always sends, at 1200 baud.
constexpr uint32_t kLineCharMs = 10;

// Steps 3 to 5 of every transmission: the length may be negative (nothing built), and then nothing
// is written.
int32_t transmit(int32_t length) {
  // A procedure that ends on this request ends with "no HART device", with that code's own text
  // rather than the text of whatever was reported before.
  Dev.errCode = ERR_NO_HART_DEVICE;
  Dev.errText = quarn_error_text(ERR_NO_HART_DEVICE);
  RS_SetMode(RS_MODE_HART);
  if (length < 1 || length > HART_FRAME_MAX) {
    g_lastLength = 0;
    return 0;
  }
  g_lastLength = length;
  const uint32_t started = WritePortAsyncBin(rawHART, length, pRS->hCom);
  if (started) {
    g_lastRequestEndMs = quarn_now_ms() + static_cast<uint32_t>(length) * kLineCharMs;
    ++g_requestsSent;
  }
  return static_cast<int32_t>(started);
}

// A record that was never identified holds the zero long address, which every device on the loop
// takes as its own (the broadcast address): no request goes there.
bool identified(const THartDev* dev) {
  return (dev->longAddress[0] & 0x3F) != 0 || dev->longAddress[1] != 0 || dev->longAddress[2] != 0 ||
         dev->longAddress[3] != 0 || dev->longAddress[4] != 0;
}

int32_t buildRequest(uint32_t command, int32_t n, const uint8_t* data) {
  if (check_DeviceInfo(hdi) != 0) return HART_ERR_RECORD;
  if (!identified(hdi)) return -1;
  const int32_t wanted = std::clamp<int32_t>(hdi->requestPreambles, kBuilderPreambles, kMostPreambles);
  // The frame is built behind the extra preambles; the library's own requests leave room for all.
  const int32_t room = std::max<int32_t>(0, HART_FRAME_MAX - (15 + n));
  const int32_t extra = std::min(wanted - kBuilderPreambles, room);
  const int32_t length = FormRq(rawHART + extra, hdi->longAddress, command, n, data);
  if (length < 0) return length;
  std::memset(rawHART, 0xFF, static_cast<size_t>(extra));
  return length + extra;
}

int32_t sendRequest(uint32_t command, int32_t n, const uint8_t* data) {
  return transmit(buildRequest(command, n, data));
}

uint8_t* putFloat(uint8_t* p, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  float2hex(bits, p);
  return p + 4;
}

}  // namespace

namespace quarn::hart {

int32_t repeatLastRequest() { return transmit(g_lastLength); }

uint32_t requestsSent() { return g_requestsSent; }
uint32_t lastRequestEndMs() { return g_lastRequestEndMs; }

}  // namespace quarn::hart

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
