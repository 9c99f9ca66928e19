// Start-up and shut-down of the whole library, with every area that is built in.
#include <string>
#include <vector>

#include "../serial/fake_vport.h"
#include "../uail/uail_test_util.h"
#include "core/registry.h"
#include "serial/serial_port.h"
#include "uail/uail.h"
#include "virtual_clock.h"

using quarn::test::field;

namespace {

constexpr uint32_t kCalibratorPort = 17;

using LibraryTest = quarn::test::QuarnTest;

TEST_F(LibraryTest, StartingTwiceKeepsOneTimerAndReinitialisesTheRecord) {
  EXPECT_EQ(InitDll(), 0);
  const uint32_t id = TimerID;
  EXPECT_NE(id, 0u);
  Dev.pRef = 100.0f;
  Dev.task = 7;
  EXPECT_EQ(InitDll(), 0);
  EXPECT_EQ(TimerID, id);
  EXPECT_TRUE(Dev.pRef != Dev.pRef);  // NaN again
  EXPECT_EQ(Dev.task, 0u);
  EXPECT_EQ(OnTimer, nullptr);  // nothing runs until the host starts a task
}

TEST_F(LibraryTest, ShutDownTakesASilentCalibratorOutOfRemoteOperationAndFinishes) {
  InitDll();
  // A calibrator port on which nothing answers.
  quarn::test::FakePeer peer;
  quarn::test::FakeVport port(kCalibratorPort, peer);
  std::vector<uint32_t> sentAt;
  peer.onWrite = [&](quarn::test::FakePeer&, const std::string&) { sentAt.push_back(clock.now()); };
  rs.hCom = OpenPortAsync(kCalibratorPort, 9600, 0);
  ASSERT_TRUE(quarn_rs_handle_valid(rs.hCom));
  uail.addr = 3;  // the module a procedure addressed last
  Dev.onUpdate = countUpdates;
  const uint32_t start = clock.now();

  EXPECT_EQ(ExitDll(), 0);
  EXPECT_EQ(field(Dev.onUpdate), nullptr);
  EXPECT_EQ(TimerID, 0u);
  EXPECT_EQ(updates, 0);
  // Remote operation off to the main unit, four times, 500 ms apart; then the port is closed.
  const std::string request = quarn::test::requestFrame("1;8;0;");
  std::string expected;
  for (int i = 0; i < 4; ++i) expected += request;
  EXPECT_EQ(peer.received, expected);
  ASSERT_EQ(sentAt.size(), 4u);
  for (size_t i = 0; i < sentAt.size(); ++i)
    EXPECT_NEAR(sentAt[i] - start, 500.0 * i, 2.0) << "request " << i;
  EXPECT_LE(clock.now() - start, 1600u);
  EXPECT_EQ(peer.closes, 1);
  EXPECT_EQ(rs.hCom, RS_HANDLE_NONE);
  // And once more, as an unload after a host's own ExitDll would.
  EXPECT_EQ(ExitDll(), 0);
  InitDll();
}

// The library registers its areas itself when it is loaded; an area it left out would leave tasks that
// do nothing. (core_tests checks each slot's and task's row against the table.)
TEST_F(LibraryTest, EverySlotAndEveryProcedureTaskHasARegisteredProcedure) {
  for (int slot = 0; slot < RET_COUNT; ++slot)
    EXPECT_NE(quarn::core::firstStep(slot), nullptr) << "slot " << slot;
  for (uint32_t task = TASK_CONNECT; task <= TASK_CHECK; ++task) {
    const quarn::core::Procedure* procedure = quarn::core::procedureOfTask(task);
    ASSERT_NE(procedure, nullptr) << "task " << task;
    EXPECT_EQ(procedure->first, quarn::core::firstStep(procedure->slot)) << "task " << task;
  }
  // The UAIL link's start-up hook ran with InitDev.
  EXPECT_EQ(field(Dev.uailPtr), &uail);
}

TEST_F(LibraryTest, TheHostGetsTheRecordAndItsIntegrityFields) {
  TDev* record = nullptr;
  ASSERT_EQ(SetTask(TASK_GET_RECORD, &record), 0);
  ASSERT_EQ(record, &Dev);
  EXPECT_EQ(record->size, QUARN_TDEV_SIZE);
  EXPECT_STREQ(record->signature, QUARN_TDEV_SIGNATURE);
}

}  // namespace
