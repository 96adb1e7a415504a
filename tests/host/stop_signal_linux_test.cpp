// Stop signals: one that arrives before the runner starts waiting is kept, not fatal; a waker
// hears each one at once and ends cleanly when none comes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>

#include "stop_signal.h"

TEST(StopSignal, ASignalBeforeTheWaitEndsTheWaitAtOnce) {
  vhost::armStopSignals();
  // Without the handler armed, SIGTERM's default action would end this test program.
  ASSERT_EQ(std::raise(SIGTERM), 0);
  vhost::waitForStop(std::nullopt);  // returns because the signal was kept
  SUCCEED();
}

TEST(StopSignal, AWakerHearsEachSignalAndEndsWhenNoneCame) {
  vhost::armStopSignals();
  std::mutex mutex;
  std::condition_variable heard;
  int wakes = 0;
  {
    vhost::StopWaker waker([&] {
      std::lock_guard lock(mutex);
      ++wakes;
      heard.notify_all();
    });
    for (int expected = 1; expected <= 2; ++expected) {
      ASSERT_EQ(std::raise(SIGINT), 0);
      std::unique_lock lock(mutex);
      ASSERT_TRUE(heard.wait_for(lock, std::chrono::seconds(5), [&] { return wakes == expected; }))
          << "signal " << expected << " not heard";
    }
  }
  // A waker that hears nothing ends at once on destruction, and a later one hears only what is new.
  { vhost::StopWaker idle([&] { ++wakes; }); }
  EXPECT_EQ(wakes, 2);
  vhost::disarmStopSignals();
}
