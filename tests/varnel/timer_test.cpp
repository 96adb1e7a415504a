// Timers running on their own: a new period takes effect at once, callbacks never overlap, a
// stop waits for the running pass (and prevails over a restart by that pass), callbacks may
// reschedule or stop their own timer, and the host sees every start and stop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "recording_observer.h"
#include "varnel/coretimer.h"

namespace {

using namespace std::chrono_literals;
using varnel_test::Signal;

// A timer whose callback is a function; it stops itself before its members go away.
class FnTimer : public CORE::coretimer {
 public:
  explicit FnTimer(std::function<void(FnTimer&)> body = {}) : body_(std::move(body)) {}
  ~FnTimer() override { StopTimerWithWait(); }

  bool TimerCallback() override {
    if (++inside_ > 1) overlapped_ = true;
    if (body_) body_(*this);
    --inside_;
    ++calls_;
    return true;
  }
  bool waitForCalls(int n) {
    for (auto end = std::chrono::steady_clock::now() + 10s; calls_ < n; std::this_thread::sleep_for(1ms))
      if (std::chrono::steady_clock::now() > end) return false;
    return true;
  }

  std::atomic<int> calls_{0};
  std::atomic<bool> overlapped_{false};

 private:
  std::function<void(FnTimer&)> body_;
  std::atomic<int> inside_{0};
};

TEST(Timer, ANewPeriodTakesEffectWhileRunning) {
  FnTimer timer;
  ASSERT_TRUE(timer.StartTimer(3600 * 1000));
  ASSERT_TRUE(timer.StartTimer(2));  // an hour-long period would never fire here
  EXPECT_TRUE(timer.waitForCalls(3));
  EXPECT_FALSE(timer.StartTimer(0));
}

TEST(Timer, SlowCallbacksNeverOverlap) {
  FnTimer timer([](FnTimer&) { std::this_thread::sleep_for(10ms); });
  ASSERT_TRUE(timer.StartTimer(1));
  EXPECT_TRUE(timer.waitForCalls(5));
  timer.StopTimerWithWait();
  EXPECT_FALSE(timer.overlapped_);
}

TEST(Timer, StopWaitsForTheRunningCallbackAndEndsTheTimer) {
  Signal entered;
  std::atomic<bool> finished{false};
  FnTimer timer([&](FnTimer&) {
    entered.set();
    std::this_thread::sleep_for(50ms);
    finished = true;
  });
  ASSERT_TRUE(timer.StartTimer(1));
  ASSERT_TRUE(entered.wait());
  timer.StopTimerWithWait();
  EXPECT_TRUE(finished);
  EXPECT_FALSE(timer.isRunning());
  const int after = timer.calls_;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(timer.calls_, after);
}

TEST(Timer, AWaitingStopPrevailsOverARestartByThePassItWaitsFor) {
  // The watch reschedules from its pass; the service's stop must still end the timer.
  Signal entered, stopping;
  FnTimer timer([&](FnTimer& self) {
    entered.set();
    stopping.wait();
    std::this_thread::sleep_for(20ms);  // let the stopper start waiting
    self.StartTimer(1);
  });
  ASSERT_TRUE(timer.StartTimer(1));
  ASSERT_TRUE(entered.wait());
  std::thread stopper([&] { timer.StopTimerWithWait(); });
  stopping.set();
  stopper.join();
  EXPECT_FALSE(timer.isRunning());
}

TEST(Timer, CallbackMayRescheduleOrStopItsOwnTimer) {
  FnTimer rescheduling([](FnTimer& self) { self.StartTimer(2); });
  ASSERT_TRUE(rescheduling.StartTimer(10));
  EXPECT_TRUE(rescheduling.waitForCalls(3));

  FnTimer stopping([](FnTimer& self) {
    self.StopTimerWithWait();  // from its own pass: stops without waiting for itself
    self.StopTimerWithWait();
  });
  ASSERT_TRUE(stopping.StartTimer(1));
  ASSERT_TRUE(stopping.waitForCalls(1));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(stopping.calls_, 1);
  ASSERT_TRUE(stopping.StartTimer(1));  // a new thread replaces the ended one
  EXPECT_TRUE(stopping.waitForCalls(2));
}

TEST(Timer, HostSeesEveryStartAndStop) {
  varnel_test::RecordingObserver observer;
  FnTimer timer;
  timer.StartTimer(30000);
  timer.StartTimer(15000);
  timer.StopTimerWithWait();
  const auto events = observer.events();
  ASSERT_EQ(observer.kinds(), (std::vector<std::wstring>{L"timer-start", L"timer-start", L"timer-stop"}));
  EXPECT_EQ(events[1].number, 15000);
}

TEST(Timer, ReleasedFromItsOwnCallback) {
  // The last reference goes inside the pass: the thread must end without touching the object.
  static Signal& released = *new Signal;  // never destroyed: the thread may still be in set()
  class SelfReleasing : public CORE::coretimer {
   public:
    bool TimerCallback() override {
      Release();
      released.set();
      return true;
    }
  };
  ASSERT_TRUE((new SelfReleasing)->StartTimer(1));
  EXPECT_TRUE(released.wait());
}

}  // namespace
