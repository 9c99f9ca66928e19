// quarn-comdriver: the Windows half of the COM-port checks. It links the library's serial layer and
// runs one operation per line read on stdin, answering each with one line on stdout, so that a
// Linux test (com_end_to_end_test.cpp) can drive the COM-port table under Wine step by step while it
// plays the device on the other side of the terminal the COM port is linked to.
//   register N NAME   a device name for port N         -> "result R"
//   open N BAUD PAR   OpenPortAsync; the calibrator port -> "handle H valid V"
//   dcb               the device control block applied -> "baud .. parity .. stopbits .. ..."
//   mode M            RS_SetMode                       -> "result R mode M"
//   avail             bytes waiting                    -> "avail N"
//   read              ReadPortAsync0                   -> "count N text T" (T escaped)
//   readsmall         ReadPortAsync into 6 bytes       -> "count N text T"
//   write TEXT        WritePortAsyncStr                -> "result R"
//   blocks N          N numbered blocks written        -> "refused R backlog B"
//   pump MS           reads (moving pending output on) until nothing is pending -> "pending P"
//   state             the record and the table         -> "hcom H hport P open N"
//   close             ClosePortAsync(hCom)             -> "closed"
//   stale             writes and reads the last closed handle -> "write W read R"
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "serial/port_table.h"
#include "serial/serial_port.h"

namespace {

int32_t g_port = 0;
uint32_t g_closed = RS_HANDLE_NONE;

std::string escaped(const uint8_t* bytes, int32_t n) {
  std::string out;
  for (int32_t i = 0; i < n; ++i) {
    const uint8_t b = bytes[i];
    if (b > 0x20 && b < 0x7F && b != '\\') {
      out += static_cast<char>(b);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
  }
  return out.empty() ? "-" : out;
}

std::string run(const std::string& line) {
  std::istringstream in(line);
  std::string op;
  in >> op;
  std::ostringstream out;
  if (op == "register") {
    uint32_t n = 0;
    std::string name;
    in >> n >> name;
    out << "result " << quarn_port_register_path(n, name.c_str());
  } else if (op == "open") {
    int32_t n = 0, parity = 0;
    uint32_t baud = 0;
    in >> n >> baud >> parity;
    const uint32_t h = OpenPortAsync(n, baud, parity);
    if (quarn_rs_handle_valid(h)) {
      g_port = n;
      rs.hCom = h;
      rs.hPort[n] = h;
    }
    out << "handle " << h << " valid " << quarn_rs_handle_valid(h);
  } else if (op == "dcb") {
    DCB d{};
    if (!quarn::serial::requestedDcb(rs.hCom, &d)) return "none";
    out << "baud " << d.BaudRate << " bytesize " << int{d.ByteSize} << " parity " << int{d.Parity}
        << " stopbits " << int{d.StopBits} << " binary " << d.fBinary << " fparity " << d.fParity
        << " ctsflow " << d.fOutxCtsFlow << " dsrflow " << d.fOutxDsrFlow << " dtr " << d.fDtrControl
        << " dsrsense " << d.fDsrSensitivity << " outx " << d.fOutX << " inx " << d.fInX << " errorchar "
        << d.fErrorChar << " null " << d.fNull << " rts " << d.fRtsControl << " abort " << d.fAbortOnError;
  } else if (op == "mode") {
    int32_t m = 0;
    in >> m;
    const int32_t r = RS_SetMode(m);
    out << "result " << r << " mode " << pRS->mode;
  } else if (op == "avail") {
    out << "avail " << quarn::serial::available(rs.hCom);
  } else if (op == "read") {
    const int32_t n = ReadPortAsync0();
    out << "count " << n << " text " << escaped(rs.rxBuf, n > 0 ? n : 0);
  } else if (op == "readsmall") {
    uint8_t small[6];
    const int32_t n = ReadPortAsync(rs.hCom, small, sizeof small);
    out << "count " << n << " text " << escaped(small, n > 0 ? n : 0);
  } else if (op == "write") {
    std::string text;
    in >> text;
    out << "result " << WritePortAsyncStr(text.c_str(), rs.hCom);
  } else if (op == "blocks") {
    int count = 0;
    in >> count;
    int refused = 0;
    bool backlog = false;
    for (int i = 0; i < count; ++i) {
      char block[128];
      std::snprintf(block, sizeof block, "<%05d:%0100d>", i, i);
      if (WritePortAsyncStr(block, rs.hCom) == 0) ++refused;
      backlog = backlog || quarn::serial::pendingTx(rs.hCom) > 0;
    }
    out << "refused " << refused << " backlog " << backlog;
  } else if (op == "pump") {
    int ms = 0;
    in >> ms;
    for (int waited = 0; waited < ms && quarn::serial::pendingTx(rs.hCom) > 0; ++waited) {
      ReadPortAsync0();
      Sleep(1);
    }
    ReadPortAsync0();
    out << "pending " << quarn::serial::pendingTx(rs.hCom);
  } else if (op == "state") {
    out << "hcom " << rs.hCom << " hport " << (g_port ? rs.hPort[g_port] : 0u) << " open "
        << quarn::serial::openCount();
  } else if (op == "close") {
    g_closed = rs.hCom;
    ClosePortAsync(rs.hCom);
    out << "closed";
  } else if (op == "stale") {
    out << "write " << WritePortAsyncStr("stale", g_closed) << " read "
        << ReadPortAsync(g_closed, rs.rxBuf, RS_RX_BUF_SIZE);
  } else {
    out << "unknown " << op;
  }
  return out.str();
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "quit") break;
    std::cout << run(line) << std::endl;
  }
  return 0;
}
