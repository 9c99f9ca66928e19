// The periodic timer on a timerfd: start and stop results, the descriptor, the dispatch, tasks 22/23.
#include <fcntl.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "core_fixture.h"

namespace {

class TimerTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    KillTimerProc();
  }
  void TearDown() override {
    KillTimerProc();
    CoreTest::TearDown();
  }
  // Waits (real time) until the descriptor reports an expiration.
  static bool waitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
  }
};

int g_timerRuns = 0;
int32_t timerStep() {
  ++g_timerRuns;
  return 0;
}

TEST_F(TimerTest, StartAndStopResults) {
  EXPECT_EQ(TimerID, 0u);
  EXPECT_EQ(KillTimerProc(), -1);  // no timer
  EXPECT_EQ(SetTimerProc(20), 0);
  const uint32_t id = TimerID;
  EXPECT_NE(id, 0u);
  EXPECT_EQ(SetTimerProc(20), 0);  // already running: unchanged
  EXPECT_EQ(TimerID, id);
  EXPECT_EQ(KillTimerProc(), 0);
  EXPECT_EQ(TimerID, 0u);
  EXPECT_EQ(KillTimerProc(), -1);
  EXPECT_EQ(SetTimerProc(0), 0);  // a zero period still starts a timer
  EXPECT_NE(TimerID, 0u);
  EXPECT_TRUE(waitReadable(quarn_timer_fd(), 1000));
}

TEST_F(TimerTest, TheDescriptorStaysOpenWhileDisarmed) {
  const int fd = quarn_timer_fd();
  ASSERT_GE(fd, 0);
  SetTimerProc(20);
  KillTimerProc();
  EXPECT_EQ(quarn_timer_fd(), fd);
  EXPECT_NE(fcntl(fd, F_GETFD), -1);
  EXPECT_FALSE(waitReadable(fd, 60));  // disarmed: no expirations
  EXPECT_EQ(quarn_timer_dispatch(), 0);
}

TEST_F(TimerTest, DispatchRunsThePendingStepOnceWithTheCurrentTick) {
  g_timerRuns = 0;
  SetTimerProc(20);
  ToNext0(timerStep);
  clock.advance(5);
  ASSERT_TRUE(waitReadable(quarn_timer_fd(), 1000));
  usleep(50 * 1000);  // let more expirations pile up: still one call
  const int expirations = quarn_timer_dispatch();
  EXPECT_GE(expirations, 2);
  EXPECT_EQ(g_timerRuns, 1);
  EXPECT_EQ(Dev.tick, clock.now());
}

TEST_F(TimerTest, StopRefusedBySystemKeepsTheIdentifier) {
  SetTimerProc(20);
  const int fd = quarn_timer_fd();
  const uint32_t id = TimerID;
  // Put something that is not a timer behind the descriptor: disarming fails.
  const int saved = dup(fd);
  const int other = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(saved, 0);
  ASSERT_GE(other, 0);
  ASSERT_EQ(dup2(other, fd), fd);
  close(other);
  EXPECT_EQ(KillTimerProc(), -2);
  EXPECT_EQ(TimerID, id);
  ASSERT_EQ(dup2(saved, fd), fd);
  close(saved);
  EXPECT_EQ(KillTimerProc(), 0);
  EXPECT_EQ(TimerID, 0u);
}

TEST_F(TimerTest, Tasks22And23StopAndRestartTheTimerAndKeepThePendingStep) {
  SetTimerProc(20);
  ToNext0(timerStep);
  EXPECT_EQ(SetTask(TASK_TIMER_STOP, nullptr), 0);
  EXPECT_EQ(TimerID, 0u);
  EXPECT_EQ(OnTimer, &timerStep);
  EXPECT_EQ(SetTask(TASK_TIMER_STOP, nullptr), 0);  // stopping a stopped timer: result still 0
  EXPECT_EQ(SetTask(TASK_TIMER_START, nullptr), 0);
  EXPECT_NE(TimerID, 0u);
  const uint32_t id = TimerID;
  EXPECT_EQ(SetTask(TASK_TIMER_START, nullptr), 0);
  EXPECT_EQ(TimerID, id);
  EXPECT_EQ(OnTimer, &timerStep);
}

}  // namespace
