// Timers running on their own: period changes, no overlapping callbacks, stopping with and
// without waiting, restarting from the callback, and the events the host sees.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include "recording_observer.h"
#include "varnel/coretimer.h"

namespace {

using namespace std::chrono_literals;
using varnel_test::RecordingObserver;
using varnel_test::Signal;

// A timer whose callback is a function; it stops itself before its members go away.
class FnTimer : public CORE::coretimer {
 public:
  explicit FnTimer(std::function<bool(FnTimer&)> body = {}) : body_(std::move(body)) {}
  ~FnTimer() override { StopTimerWithWait(); }

  bool TimerCallback() override {
    const int inside = ++inside_;
    int seen = maxInside_.load();
    while (inside > seen && !maxInside_.compare_exchange_weak(seen, inside)) {
    }
    const bool result = body_ ? body_(*this) : true;
    --inside_;
    {
      std::lock_guard lock(mutex_);
      ++calls_;
    }
    cv_.notify_all();
    return result;
  }

  int calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  bool waitForCalls(int n, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return calls_ >= n; });
  }
  int maxInside() const { return maxInside_.load(); }

 private:
  std::function<bool(FnTimer&)> body_;
  std::atomic<int> inside_{0};
  std::atomic<int> maxInside_{0};
  std::mutex mutex_;
  std::condition_variable cv_;
  int calls_ = 0;
};

TEST(Timer, FiresRepeatedlyUntilStopped) {
  FnTimer timer;
  EXPECT_FALSE(timer.isRunning());
  ASSERT_TRUE(timer.StartTimer(5));
  EXPECT_TRUE(timer.isRunning());
  EXPECT_TRUE(timer.waitForCalls(3));
  timer.StopTimerWithWait();
  EXPECT_FALSE(timer.isRunning());
  const int after = timer.calls();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(timer.calls(), after);
}

TEST(Timer, ZeroPeriodIsRefused) {
  FnTimer timer;
  EXPECT_FALSE(timer.StartTimer(0));
  EXPECT_FALSE(timer.isRunning());
}

TEST(Timer, NewPeriodTakesEffectWhileRunning) {
  FnTimer timer;
  ASSERT_TRUE(timer.StartTimer(3600 * 1000));
  // An hour-long period would never fire here; the shorter one must.
  ASSERT_TRUE(timer.StartTimer(5));
  EXPECT_TRUE(timer.waitForCalls(2));

  // And back to a long period: at most a pass already under way completes.
  ASSERT_TRUE(timer.StartTimer(3600 * 1000));
  const int at = timer.calls();
  std::this_thread::sleep_for(100ms);
  EXPECT_LE(timer.calls(), at + 1);
}

TEST(Timer, SlowCallbacksNeverOverlap) {
  FnTimer timer([](FnTimer&) {
    std::this_thread::sleep_for(15ms);
    return true;
  });
  ASSERT_TRUE(timer.StartTimer(1));
  EXPECT_TRUE(timer.waitForCalls(5));
  timer.StopTimerWithWait();
  EXPECT_EQ(timer.maxInside(), 1);
}

TEST(Timer, StopWaitsForTheRunningCallback) {
  Signal entered;
  std::atomic<bool> finished{false};
  FnTimer timer([&](FnTimer&) {
    entered.set();
    std::this_thread::sleep_for(100ms);
    finished = true;
    return true;
  });
  ASSERT_TRUE(timer.StartTimer(1));
  ASSERT_TRUE(entered.wait());
  timer.StopTimerWithWait();
  EXPECT_TRUE(finished.load());
  const int after = timer.calls();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(timer.calls(), after);
}

TEST(Timer, StopFromTheCallbackDoesNotWaitForItself) {
  FnTimer timer([](FnTimer& self) {
    self.StopTimerWithWait();
    self.StopTimerWithWait();  // idempotent
    return true;
  });
  ASSERT_TRUE(timer.StartTimer(1));
  ASSERT_TRUE(timer.waitForCalls(1));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(timer.calls(), 1);
  EXPECT_FALSE(timer.isRunning());
  // The ended thread is replaced by a new one on the next start.
  ASSERT_TRUE(timer.StartTimer(1));
  EXPECT_TRUE(timer.waitForCalls(2));
}

TEST(Timer, CallbackMayReschedule) {
  // Each pass gives the timer a shorter period, as the watch does when an alarm starts.
  FnTimer timer([](FnTimer& self) {
    self.StartTimer(2);
    return true;
  });
  ASSERT_TRUE(timer.StartTimer(10));
  EXPECT_TRUE(timer.waitForCalls(4));
  EXPECT_TRUE(timer.isRunning());
}

TEST(Timer, StopAndRestartFromTheCallbackKeepsItRunning) {
  FnTimer timer([](FnTimer& self) {
    self.StopTimerWithWait();
    self.StartTimer(2);
    return true;
  });
  ASSERT_TRUE(timer.StartTimer(2));
  EXPECT_TRUE(timer.waitForCalls(3));
  EXPECT_EQ(timer.maxInside(), 1);
}

TEST(Timer, AWaitingStopPrevailsOverARestartByThePassItWaitsFor) {
  Signal entered;
  Signal stopping;
  FnTimer timer([&](FnTimer& self) {
    entered.set();
    stopping.wait();
    std::this_thread::sleep_for(20ms);  // let the stopper start waiting
    self.StartTimer(1);
    return true;
  });
  ASSERT_TRUE(timer.StartTimer(1));
  ASSERT_TRUE(entered.wait());
  std::thread stopper([&] { timer.StopTimerWithWait(); });
  stopping.set();
  stopper.join();
  EXPECT_FALSE(timer.isRunning());
  const int after = timer.calls();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(timer.calls(), after);
}

TEST(Timer, ConcurrentStopsAllWait) {
  Signal entered;
  std::atomic<bool> finished{false};
  FnTimer timer([&](FnTimer&) {
    entered.set();
    std::this_thread::sleep_for(60ms);
    finished = true;
    return true;
  });
  ASSERT_TRUE(timer.StartTimer(1));
  ASSERT_TRUE(entered.wait());
  std::atomic<int> sawUnfinished{0};
  std::vector<std::thread> stoppers;
  for (int i = 0; i < 3; ++i) {
    stoppers.emplace_back([&] {
      timer.StopTimerWithWait();
      if (!finished) ++sawUnfinished;
    });
  }
  for (auto& t : stoppers) t.join();
  EXPECT_EQ(sawUnfinished.load(), 0);
}

TEST(Timer, CallbackExceptionIsLoggedAndTheTimerGoesOn) {
  RecordingObserver observer;
  std::atomic<int> passes{0};
  FnTimer timer([&](FnTimer&) -> bool {
    if (passes++ == 0) throw std::runtime_error("pass failed");
    return true;
  });
  ASSERT_TRUE(timer.StartTimer(2));
  EXPECT_TRUE(timer.waitForCalls(1));  // a pass after the one that threw
  timer.StopTimerWithWait();
  EXPECT_TRUE(observer.waitFor([](const varnel_test::Event& e) {
    return e.kind == L"log" && e.number == 4 && e.text.find(L"pass failed") != std::wstring::npos;
  }));
}

TEST(Timer, HostSeesEveryStartAndStop) {
  RecordingObserver observer;
  FnTimer timer;
  timer.StartTimer(30000);
  timer.StartTimer(15000);
  timer.StopTimerWithWait();
  timer.StopTimerWithWait();
  const std::vector<varnel_test::Event> events = observer.events();
  ASSERT_EQ(observer.kinds(),
            (std::vector<std::wstring>{L"timer-start", L"timer-start", L"timer-stop", L"timer-stop"}));
  EXPECT_EQ(events[0].number, 30000);
  EXPECT_EQ(events[1].number, 15000);
}

TEST(Timer, DestroyingAStartedTimerReportsItsStop) {
  RecordingObserver observer;
  class Idle : public CORE::coretimer {  // no state of its own: ~coretimer's stop is enough
   public:
    bool TimerCallback() override { return true; }
  };
  auto* timer = new Idle;
  timer->StartTimer(3600 * 1000);
  timer->Release();
  EXPECT_EQ(observer.kinds(), (std::vector<std::wstring>{L"timer-start", L"timer-stop"}));
}

TEST(Timer, ReleasedFromItsOwnCallback) {
  // The last reference goes away inside the pass: the timer's thread must end cleanly without
  // touching the object again.
  // Never destroyed: the timer's thread ends on its own and may still be inside set().
  static Signal& released = *new Signal;
  class SelfReleasing : public CORE::coretimer {
   public:
    bool TimerCallback() override {
      Release();
      released.set();
      return true;
    }
  };
  auto* timer = new SelfReleasing;
  ASSERT_TRUE(timer->StartTimer(1));
  EXPECT_TRUE(released.wait());
}

}  // namespace
