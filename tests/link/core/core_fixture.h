// Fixture of the core's tests: virtual time, a fresh record, an idle scheduler and clean stand-ins.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_procedures.h"
#include "quarn/cp1251.h"
#include "virtual_clock.h"

class CoreTest : public quarn::test::QuarnTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fakes::areasRegistered()) << "the stand-ins or an area's table were refused";
    QuarnTest::SetUp();
    fakes::reset();
    seen.clear();
  }

  // What the host's callback saw at each notification.
  struct Seen {
    uint32_t event, task, retCode, errCode;
    std::string errText;  // "(null)" for a null pointer
  };
  static inline std::vector<Seen> seen;
  static void recordNotification() {
    seen.push_back({Dev.event, Dev.task, Dev.retCode, Dev.errCode, Dev.errText ? Dev.errText : "(null)"});
  }

  static std::string cp1251(std::string_view utf8) { return quarn::text::utf8ToCp1251(utf8); }
};
