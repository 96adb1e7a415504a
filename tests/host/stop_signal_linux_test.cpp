// Stop signals: one that arrives before the runner starts waiting is kept, not fatal; a waker
// hears each one at once and ends cleanly when none comes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

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

TEST(StopSignal, AWakerEndsEvenWhenUnreadStopsFillTheChannelAndLeavesNothingBehind) {
  vhost::armStopSignals();
  std::mutex mutex;
  std::condition_variable changed;
  int wakes = 0;
  bool open = false;
  {
    vhost::StopWaker waker([&] {
      std::unique_lock lock(mutex);
      ++wakes;
      changed.notify_all();
      changed.wait_for(lock, std::chrono::seconds(10), [&] { return open; });  // the first wake holds the reader
    });
    ASSERT_EQ(std::raise(SIGTERM), 0);
    {
      std::unique_lock lock(mutex);
      ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return wakes == 1; }));
    }
    for (int i = 0; i < 70000; ++i) std::raise(SIGTERM);  // more than a pipe holds
    std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }  // must end once the waker has read what the channel holds
  EXPECT_GT(wakes, 1000);

  // A release left unread would end the next waker at once, deaf to stops.
  std::atomic<int> later{0};
  vhost::StopWaker next([&] { ++later; });
  ASSERT_EQ(std::raise(SIGTERM), 0);
  for (int i = 0; i < 500 && later.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(later.load(), 1);
  vhost::disarmStopSignals();
}
