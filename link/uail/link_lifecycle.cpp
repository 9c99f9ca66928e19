// What the UAIL link does when the library starts, shuts down and starts a task: the hooks of its
// area (link/areas.h).
#include "uail/link_lifecycle.h"

#include <initializer_list>

#include "areas.h"
#include "core/quarn_core.h"
#include "serial/port_table.h"
#include "serial/serial_port.h"
#include "uail/uail.h"

namespace {

constexpr uint8_t kMainUnit = 1;
constexpr uint8_t kTypeRemoteOperation = 8;
constexpr int kRemoteOffRepeats = 3;  // transmissions after the first, each after an unanswered wait
constexpr uint32_t kAnswerWaitMs = 500;
// Before the port is closed the last request is given time to leave (12 bytes take 13 ms at 9600).
constexpr uint32_t kDrainMaxMs = 50;

// Every transmission names the main unit itself: the receiver's address is that of the last answer
// read (a late or damaged answer of the Kesto module leaves 3 there).
void sendRemoteOff() { Uail_Tx(rs.hCom, kMainUnit, kTypeRemoteOperation, "0"); }

// Only an error-free answer of the main unit confirms; another module's answer does not.
bool mainUnitConfirmed() { return IsRxUailOk() && uail.addr == kMainUnit; }

}  // namespace

void quarn_link_startup() {
  UAIL_Init(&uail);
  Dev.uailPtr = &uail;
}

// Switches the calibrator out of remote operation (at most four transmissions with 500 ms waits
// between them; also when no calibrator was ever connected), then releases the ports.
void quarn_link_shutdown() {
  pRS = &rs;
  uail.addr = kMainUnit;
  sendRemoteOff();
  for (int i = 0; i < kRemoteOffRepeats; ++i) {
    quarn_sleep_ms(kAnswerWaitMs);
    if (mainUnitConfirmed()) break;
    sendRemoteOff();
  }
  if (quarn_rs_handle_valid(rs.hCom)) {
    quarn::serial::drain(rs.hCom, kDrainMaxMs);
    ClosePortAsync(rs.hCom);
  }
  rs.hCom = RS_HANDLE_NONE;
  // Ports of a search still open and the external transducer's port go too: nothing may hold a
  // device once the library is shut down (a later start could not open it again).
  for (TRS* rec : {&rs, &rsDorv}) {
    for (uint32_t& h : rec->hPort)
      if (quarn::serial::isOpen(h)) h = RS_HANDLE_INVALID;
    if (quarn::serial::isOpen(rec->hCom)) rec->hCom = RS_HANDLE_NONE;
  }
  quarn::serial::closeAll();
}

void quarn_link_purge() { quarn_rs_purge(rs.hCom); }

namespace quarn::link {

constinit const core::Area kUailArea{
    .name = "uail",
    .procedures = {},
    .start = quarn_link_startup,
    .shutdown = quarn_link_shutdown,
    .purge = quarn_link_purge,
};

}  // namespace quarn::link
