// Fixture of the calibrator procedure tests: virtual time, a fresh record, the library's port and
// control state reset between tests, and a record of every notification the host would get.
#pragma once

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "calibrator/calibrator.h"
#include "quarn_core.h"
#include "serial/serial_port.h"
#include "uail/uail.h"
#include "virtual_clock.h"

namespace quarn::test {

// What the host saw at one notification.
struct Notice {
  uint32_t event;
  uint32_t linked;
  uint32_t linkState;
  uint32_t retCode;
  float pRef;
  uint32_t inputOn;
  uint32_t ventOn;
  uint32_t kestoDataValid;
  float kestoCurrent[4];
};

class CalibratorTest : public QuarnTest {
 protected:
  void SetUp() override {
    QuarnTest::SetUp();
    resetLibrary();
    notices().clear();
    Dev.onUpdate = &CalibratorTest::record;
  }
  void TearDown() override {
    OnTimer = nullptr;
    resetLibrary();
    QuarnTest::TearDown();
  }

  static void resetLibrary() {
    OnTimer = nullptr;
    pRS = &rsDorv;
    if (quarn_rs_handle_valid(rsDorv.hCom)) ClosePortAsync(rsDorv.hCom);
    rsDorv.hCom = 0;
    pRS = &rs;
    ClosePorts(-1);
    isQuarn = isBrenk = 0;
    _oldControl_Mode = -1;
    _oldControl_Ptarget = -9999.9f;
  }

  static std::vector<Notice>& notices() {
    static std::vector<Notice> n;
    return n;
  }
  static void record() {
    notices().push_back(
        {Dev.event,
         Dev.linked,
         Dev.linkState,
         Dev.retCode,
         Dev.pRef,
         Dev.inputOn,
         Dev.ventOn,
         Dev.kestoDataValid,
         {Dev.kestoCurrent[0], Dev.kestoCurrent[1], Dev.kestoCurrent[2], Dev.kestoCurrent[3]}});
  }
  static int countEvents(uint32_t event) {
    int n = 0;
    for (const Notice& x : notices())
      if (x.event == event) ++n;
    return n;
  }

  static const Notice* lastNotice(uint32_t event) {
    for (auto it = notices().rbegin(); it != notices().rend(); ++it)
      if (it->event == event) return &*it;
    return nullptr;
  }

  // Starts the connection: model 1 Quarn, 0 Brenk; port 0 searches every port.
  void startConnect(uint32_t model, uint32_t portNo) {
    Dev.model = model;
    Dev.portNo = portNo;
    SetTask(TASK_CONNECT, nullptr);
  }
  bool runUntil(const std::function<bool()>& done, uint32_t maxMs) { return clock.runUntil(done, maxMs); }
  // Runs until the measuring cycle has notified `n` more new measurements.
  bool runCycles(int n, uint32_t maxMs = 60000) {
    const int target = countEvents(2) + n;
    return runUntil([&] { return countEvents(2) >= target; }, maxMs);
  }
  bool linkedAndMeasuring(uint32_t maxMs = 10000) {
    return runUntil([] { return Dev.linked == 1 && Dev.linkState == 2 && Dev.task == 4; }, maxMs) &&
           runCycles(1);
  }
};

}  // namespace quarn::test
