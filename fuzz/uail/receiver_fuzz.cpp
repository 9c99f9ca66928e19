// Fuzz target: any byte stream on the calibrator's line. The bytes go through the serial layer
// (a virtual port) into RxUail and byte by byte into the receiver; every complete answer is then
// read with each field reader. Nothing may read or write outside its buffer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "serial/serial_port.h"
#include "uail/uail.h"

namespace {

struct Line {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
};
Line g_line;

int lineAvailable(void*, uint32_t) { return static_cast<int>(g_line.size - g_line.pos); }
int lineRead(void*, uint8_t* buf, uint32_t max, uint32_t) {
  size_t n = g_line.size - g_line.pos;
  if (n > max) n = max;
  std::memcpy(buf, g_line.data + g_line.pos, n);
  g_line.pos += n;
  return static_cast<int>(n);
}
int lineWrite(void*, const uint8_t*, uint32_t n, uint32_t) { return static_cast<int>(n); }

constexpr uint32_t kPort = 1;

void setUpOnce() {
  static bool done = false;
  if (done) return;
  done = true;
  quarn_vport_ops ops{};
  ops.available = lineAvailable;
  ops.read = lineRead;
  ops.write = lineWrite;
  quarn_port_register_virtual(kPort, &ops);
  rs.hCom = OpenPortAsync(kPort, 9600, 0);
  if (!quarn_rs_handle_valid(rs.hCom)) std::abort();
}

void readEveryField() {
  char small[UAIL_FIELD_COPY_SIZE];
  int32_t i = 0;
  float f = 0;
  uint8_t hex[4];
  static uint8_t file[UAIL_RX_BUF_SIZE / 2];
  static TUailParce parts;
  for (int32_t k = -1; k < 8; ++k) {
    UAIL_getCopyStr(k, small);
    UAIL_getAsInt(k, &i);
    UAIL_getAsFloatStr(k, &f);
    UAIL_getAsFloatHex(k, hex);
    UAIL_getAsIntHex(k, &i);
    UAIL_getAsStr(k, uail.buf);
  }
  UAIL_File_Read_Ac(file);
  UAIL_ParceRX(&uail, &parts);
}

void checkReceiver() {
  if (uail.wr < uail.buf || uail.wr > uail.buf + UAIL_RX_BUF_SIZE - 1) std::abort();
  if (uail.buf[UAIL_RX_BUF_SIZE - 1] != '\0') std::abort();
  if (uail.len >= UAIL_RX_BUF_SIZE) std::abort();
}

// The line: the input as it is, with every segment after a 0x00 byte that starts with 0x01 sent as a
// correctly checksummed answer "!" segment CRC CR, so answers complete often and the readers run.
std::vector<uint8_t> lineBytes(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  size_t start = 0;
  while (start <= size) {
    size_t end = start;
    while (end < size && data[end] != 0) ++end;
    if (end > start && data[start] == 1) {
      const uint8_t* body = data + start + 1;
      const size_t n = end - start - 1;
      char crc[8];
      std::snprintf(crc, sizeof crc, "%u", CalcMemCRC(body, static_cast<uint16_t>(n)));
      out.push_back('!');
      out.insert(out.end(), body, body + n);
      out.insert(out.end(), crc, crc + std::strlen(crc));
      out.push_back('\r');
    } else {
      out.insert(out.end(), data + start, data + end);
      if (end < size) out.push_back(0);
    }
    start = end + 1;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* raw, size_t rawSize) {
  setUpOnce();
  const std::vector<uint8_t> line = lineBytes(raw, rawSize);
  const uint8_t* data = line.data();
  const size_t size = line.size();
  // Through the port: reads of at most 1022 bytes each, one answer per read.
  g_line = Line{data, size, 0};
  while (g_line.pos < g_line.size) {
    if (RxUail()) readEveryField();
    checkReceiver();
  }
  // Byte by byte: every answer in the stream.
  UAIL_Init(&uail);
  for (size_t n = 0; n < size; ++n) {
    if (UAIL_RxChar(data[n], &uail)) readEveryField();
    checkReceiver();
  }
  return 0;
}
