// The periodic timer (a timerfd; on Windows a waitable timer): start and stop results, the descriptor,
// the dispatch, tasks 22/23.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

#include <chrono>
#include <thread>

#include "core_fixture.h"
#include "platform/timer.h"

namespace {

#ifdef _WIN32
HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)); }
// Waits (real time) until the timer has expired; the wait leaves it signalled for the dispatch.
bool waitExpired(int fd, int timeoutMs) {
  return WaitForSingleObject(handleOf(fd), static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}
bool descriptorOpen(int fd) {
  DWORD flags = 0;
  return GetHandleInformation(handleOf(fd), &flags) != 0;
}
#else
// Waits (real time) until the descriptor reports an expiration.
bool waitExpired(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}
bool descriptorOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }
#endif

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
  EXPECT_TRUE(waitExpired(quarn_timer_fd(), 1000));
}

TEST_F(TimerTest, TheDescriptorStaysOpenWhileDisarmed) {
  const int fd = quarn_timer_fd();
  ASSERT_GE(fd, 0);
  SetTimerProc(20);
  KillTimerProc();
  EXPECT_EQ(quarn_timer_fd(), fd);
  EXPECT_TRUE(descriptorOpen(fd));
  EXPECT_FALSE(waitExpired(fd, 60));  // disarmed: no expirations
  EXPECT_EQ(quarn_timer_dispatch(), 0);
}

TEST_F(TimerTest, DispatchRunsThePendingStepOnceWithTheCurrentTick) {
  g_timerRuns = 0;
  SetTimerProc(20);
  ToNext0(timerStep);
  clock.advance(5);
  ASSERT_TRUE(waitExpired(quarn_timer_fd(), 1000));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // more expirations pile up: still one call
  const int expirations = quarn_timer_dispatch();
  EXPECT_GE(expirations, 2);
  EXPECT_EQ(g_timerRuns, 1);
  EXPECT_EQ(Dev.tick, clock.now());
}

// Disarming fails only with something else behind the descriptor, which a POSIX descriptor allows
// to arrange; a Windows handle cannot be swapped so.
#ifndef _WIN32
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
#endif

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

// The timer asks for its next call when a step is due, not every period: a host watching the
// descriptor sleeps through the periods in which nothing would run. The next expiration the timer
// is set to, for what is pending (the clock is virtual, the timer real: the expiration is read back
// from the descriptor).
int32_t schedulesLongWait() {
  ++g_timerRuns;
  ToNext(timerStep, 300);
  return 0;
}
int32_t schedulesNextCall() {
  ++g_timerRuns;
  ToNext0(timerStep);
  return 0;
}
int32_t schedulesShortWait() {
  ++g_timerRuns;
  ToNext(timerStep, 5);
  return 0;
}

class TimerPacing : public TimerTest {
 protected:
  // Milliseconds until the descriptor's next expiration, and its period; -1 when disarmed.
#ifdef _WIN32
  // A waitable timer holds one expiry at a time; the timer's own record tells when and the period
  // its dispatch keeps.
  static double nextExpiryMs(double* periodMs = nullptr) {
    double in = -1;
    return quarn::platform::nextCall(&in, periodMs) ? in : -1;
  }
#else
  static double nextExpiryMs(double* periodMs = nullptr) {
    itimerspec now{};
    timerfd_gettime(quarn_timer_fd(), &now);
    if (periodMs) *periodMs = now.it_interval.tv_sec * 1e3 + now.it_interval.tv_nsec / 1e6;
    if (now.it_value.tv_sec == 0 && now.it_value.tv_nsec == 0) return -1;
    return now.it_value.tv_sec * 1e3 + now.it_value.tv_nsec / 1e6;
  }
#endif
};

TEST_F(TimerPacing, TheNextExpirationIsWhenThePendingStepIsDue) {
  struct Case {
    const char* what;
    TStepFn first;    // run by a timer call
    double expectMs;  // next expiration after that call
  };
  const Case cases[] = {
      {"a step waits 300 ms: one call at its deadline", schedulesLongWait, 300},
      {"a step for the next call: one period later", schedulesNextCall, 20},
      {"a wait shorter than the period: still one step per period", schedulesShortWait, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(SetTimerProc(20), 0);
    ToNext0(c.first);
    clock.tick();
    ASSERT_EQ(OnTimer, &timerStep) << "the first step ran and scheduled the next";
    double period = 0;
    const double next = nextExpiryMs(&period);
    EXPECT_LE(next, c.expectMs + 0.5);
    EXPECT_GT(next, c.expectMs - 50);
    EXPECT_DOUBLE_EQ(period, 20.0) << "a call that brings nothing new is followed one period later";
    KillTimerProc();
    OnTimer = nullptr;
  }
}

TEST_F(TimerPacing, SchedulingFromTheHostMovesTheExpirationAndAStoppedTimerStaysStopped) {
  ASSERT_EQ(SetTimerProc(20), 0);
  double period = 0;
  EXPECT_LE(nextExpiryMs(&period), 20.5) << "nothing pending: the timer keeps its period";
  EXPECT_DOUBLE_EQ(period, 20.0);

  ToNext(timerStep, 1500);  // e.g. a Begin_ entry point called by the host
  EXPECT_GT(nextExpiryMs(), 1400);
  ToNextOnError(timerStep, 10);  // keeps the deadline
  EXPECT_GT(nextExpiryMs(), 1400);
  ToNext0(timerStep);  // the next call: at once, a period having passed since the last step ran
  EXPECT_TRUE(waitExpired(quarn_timer_fd(), 10));

  KillTimerProc();
  ToNext(timerStep, 100);
  EXPECT_EQ(nextExpiryMs(), -1) << "scheduling does not start a stopped timer";
  ASSERT_EQ(SetTimerProc(20), 0);
  EXPECT_GT(nextExpiryMs(), 50) << "started again: the pending step's deadline, not the period";
}

TEST_F(TimerPacing, DispatchedCallsRunTheStepsAtTheirDeadlines) {
  g_timerRuns = 0;
  ASSERT_EQ(SetTimerProc(20), 0);
  ToNext(schedulesLongWait, 40);
  clock.advance(40);
  ASSERT_TRUE(waitExpired(quarn_timer_fd(), 1000));
  EXPECT_GE(quarn_timer_dispatch(), 1);
  EXPECT_EQ(g_timerRuns, 1);
  // The step scheduled 300 ms: no expiration before then, however long the host waits.
  EXPECT_FALSE(waitExpired(quarn_timer_fd(), 150));
  EXPECT_EQ(quarn_timer_dispatch(), 0);
  clock.advance(300);
  ASSERT_TRUE(waitExpired(quarn_timer_fd(), 1000));
  EXPECT_GE(quarn_timer_dispatch(), 1);
  EXPECT_EQ(g_timerRuns, 2);
  // timerStep schedules nothing, so it stays pending and runs again at the next call: one period on.
  EXPECT_EQ(OnTimer, &timerStep);
  EXPECT_LE(nextExpiryMs(), 20.5);
}

}  // namespace
