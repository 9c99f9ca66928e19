// The port map: fixed numbering of the system's serial devices and the registrations of hosts.
#include "platform/port_map.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/quarn_host.h"

namespace {

TEST(PortMap, SystemDevicesHaveFixedNumbers) {
  struct Case {
    uint32_t number;
    const char* path;
  };
  const Case cases[] = {
#ifdef _WIN32
      // The plain name reaches COM1..COM9 only; the device namespace reaches every number.
      {1, "COM1"}, {9, "COM9"}, {10, "\\\\.\\COM10"}, {33, "\\\\.\\COM33"}, {253, "\\\\.\\COM253"},
#else
      {1, "/dev/ttyS0"},
      {9, "/dev/ttyS8"},
      {10, "/dev/ttyS9"},
      {32, "/dev/ttyS31"},
      {33, "/dev/ttyUSB0"},
      {64, "/dev/ttyUSB31"},
      {65, "/dev/ttyACM0"},
      {96, "/dev/ttyACM31"},
      {97, ""},
      {253, ""},
#endif
      {0, ""},     {254, ""},
  };
  for (const auto& c : cases) {
    char buf[64];
    EXPECT_STREQ(quarn::platform::standardDevicePath(c.number, buf, sizeof buf), c.path) << c.number;
  }
}

TEST(PortMap, RegistrationsMapBothWays) {
  ASSERT_EQ(quarn_port_register_path(120, "/dev/pts/77"), 0);
  EXPECT_STREQ(quarn_port_path(120), "/dev/pts/77");
  EXPECT_EQ(quarn_port_number("/dev/pts/77"), 120u);

  quarn_vport_ops ops{};
  ASSERT_EQ(quarn_port_register_virtual(121, &ops), 0);
  EXPECT_STREQ(quarn_port_path(121), "virtual:121");
  EXPECT_EQ(quarn_port_number("virtual:121"), 121u);

  // A later registration replaces the earlier one of the number.
  ASSERT_EQ(quarn_port_register_path(121, "/dev/pts/78"), 0);
  EXPECT_STREQ(quarn_port_path(121), "/dev/pts/78");

  quarn_port_unregister(120);
  quarn_port_unregister(121);
  EXPECT_STREQ(quarn_port_path(120), "");
  EXPECT_EQ(quarn_port_number("/dev/pts/77"), 0u);

  EXPECT_EQ(quarn_port_register_path(0, "/dev/pts/1"), -1);
  EXPECT_EQ(quarn_port_register_path(254, "/dev/pts/1"), -1);
  EXPECT_EQ(quarn_port_register_path(5, nullptr), -1);
  EXPECT_EQ(quarn_port_register_path(5, std::string(300, 'x').c_str()), -1);
  EXPECT_EQ(quarn_port_register_virtual(5, nullptr), -1);
  EXPECT_STREQ(quarn_port_path(0), "");
  EXPECT_EQ(quarn_port_number(nullptr), 0u);
}

TEST(PortMap, RescanCountsWhatIsMapped) {
  const int before = quarn_port_rescan();
  ASSERT_EQ(quarn_port_register_path(200, "/dev/pts/90"), 0);
  EXPECT_EQ(quarn_port_rescan(), before + 1) << "registrations stay across a rescan";
  EXPECT_STREQ(quarn_port_path(200), "/dev/pts/90");
  quarn_port_unregister(200);
}

}  // namespace
