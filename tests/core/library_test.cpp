// Start-up and shut-down of the whole library, with every area that is built in.
#include "virtual_clock.h"

using quarn::test::field;

namespace {

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

TEST_F(LibraryTest, ShutDownWithoutACalibratorFinishes) {
  InitDll();
  Dev.onUpdate = countUpdates;
  const uint64_t before = clock.sleptMs();
  EXPECT_EQ(ExitDll(), 0);
  EXPECT_EQ(field(Dev.onUpdate), nullptr);
  EXPECT_EQ(TimerID, 0u);
  EXPECT_EQ(updates, 0);
  // The remote-operation-off exchange waits at most 1.5 s for a calibrator that is not there.
  EXPECT_LE(clock.sleptMs() - before, 1600u);
  // And once more, as an unload after a host's own ExitDll would.
  EXPECT_EQ(ExitDll(), 0);
  InitDll();
}

TEST_F(LibraryTest, TheHostGetsTheRecordAndItsIntegrityFields) {
  TDev* record = nullptr;
  ASSERT_EQ(SetTask(TASK_GET_RECORD, &record), 0);
  ASSERT_EQ(record, &Dev);
  EXPECT_EQ(record->size, QUARN_TDEV_SIZE);
  EXPECT_STREQ(record->signature, QUARN_TDEV_SIGNATURE);
}

}  // namespace
