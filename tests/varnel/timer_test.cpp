// Timers: manual timers as the runner drives them (fired only when ticked, each on its own
// thread, results in start order, never beside a running callback of the same timer), and timers
// running on their own (a new period takes effect at once, callbacks never overlap, a stop waits
// for the running pass and prevails over a restart by that pass, callbacks may reschedule or stop
// their own timer, the host sees every start and stop).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

#include "recording_observer.h"
#include "varnel/coretimer.h"
#include "varnel/host_control.h"

namespace {

using namespace std::chrono_literals;
using varnel_test::Signal;

// A timer whose callback is a function; it stops itself before its members go away.
class FnTimer : public CORE::coretimer {
 public:
  explicit FnTimer(std::function<bool(FnTimer&)> body = {}) : body_(std::move(body)) {}
  ~FnTimer() override { StopTimerWithWait(); }

  bool TimerCallback() override {
    if (++inside_ > 1) overlapped_ = true;
    thread_ = std::this_thread::get_id();
    const bool result = body_ ? body_(*this) : true;
    --inside_;
    ++calls_;
    return result;
  }
  bool waitForCalls(int n) {
    for (auto end = std::chrono::steady_clock::now() + 10s; calls_ < n; std::this_thread::sleep_for(1ms))
      if (std::chrono::steady_clock::now() > end) return false;
    return true;
  }

  std::atomic<int> calls_{0};
  std::atomic<bool> overlapped_{false};
  std::thread::id thread_;  // read after tickTimers returned

 private:
  std::function<bool(FnTimer&)> body_;
  std::atomic<int> inside_{0};
};

// Manual timers first: a timer of the later tests may still be ending on its own thread.
class ManualTimers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { CORE::setManualTimers(true); }
  static void TearDownTestSuite() { CORE::setManualTimers(false); }
};

TEST_F(ManualTimers, TicksRunStartedTimersOnTheirOwnThreadsInStartOrder) {
  FnTimer second([](FnTimer&) { return false; });
  FnTimer first, idle;
  ASSERT_TRUE(first.StartTimer(1));
  ASSERT_TRUE(second.StartTimer(1));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(first.calls_ + second.calls_, 0);  // never on their own
  EXPECT_EQ(CORE::tickTimers(), (std::vector<bool>{true, false}));
  EXPECT_EQ(first.calls_ + second.calls_ + idle.calls_, 2);
  EXPECT_NE(first.thread_, std::this_thread::get_id());
  EXPECT_NE(first.thread_, second.thread_);
}

TEST_F(ManualTimers, CallbacksOfDifferentTimersRunSideBySide) {
  Signal aIn, bIn;  // each callback waits for the other: only concurrent ticks complete
  FnTimer a([&](FnTimer&) { return aIn.set(), bIn.wait(); });
  FnTimer b([&](FnTimer&) { return bIn.set(), aIn.wait(); });
  a.StartTimer(30000);
  b.StartTimer(30000);
  EXPECT_EQ(CORE::tickTimers(), (std::vector<bool>{true, true}));
}

TEST_F(ManualTimers, ATickNeverRunsBesideARunningCallbackOfTheSameTimer) {
  Signal entered, release;
  FnTimer timer([&](FnTimer& self) {
    if (self.calls_ == 0) entered.set(), release.wait();
    return true;
  });
  timer.StartTimer(30000);
  std::optional<std::vector<bool>> first, second;
  std::thread ticker([&] { first = CORE::tickTimers(); });
  ASSERT_TRUE(entered.wait());
  std::thread another([&] { second = CORE::tickTimers(); });
  std::this_thread::sleep_for(20ms);  // the second tick queues behind the running pass
  release.set();
  ticker.join();
  another.join();
  EXPECT_EQ(first, std::vector<bool>{true});
  EXPECT_EQ(second, std::vector<bool>{true});
  EXPECT_FALSE(timer.overlapped_);
}

TEST_F(ManualTimers, StoppedAndDestroyedTimersAreNotTicked) {
  FnTimer stopped;
  stopped.StartTimer(30000);
  stopped.StopTimerWithWait();
  std::atomic<int> calls{0};
  {
    FnTimer gone([&](FnTimer&) { return ++calls, true; });
    gone.StartTimer(30000);
  }
  EXPECT_TRUE(CORE::tickTimers().empty());
  EXPECT_EQ(stopped.calls_ + calls, 0);
}

TEST(Timer, ANewPeriodTakesEffectWhileRunningSlowCallbacksNeverOverlapAndTheHostSeesStartsAndStops) {
  varnel_test::RecordingObserver observer;
  FnTimer timer([](FnTimer&) { return std::this_thread::sleep_for(10ms), true; });
  ASSERT_TRUE(timer.StartTimer(3600 * 1000));
  ASSERT_TRUE(timer.StartTimer(1));  // an hour-long period would never fire here
  EXPECT_TRUE(timer.waitForCalls(5));
  EXPECT_FALSE(timer.StartTimer(0));
  timer.StopTimerWithWait();
  EXPECT_FALSE(timer.overlapped_);
  const auto events = observer.events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[1].kind + L" " + std::to_wstring(events[1].number), L"timer-start 1");
  EXPECT_EQ(events[2].kind, L"timer-stop");
}

TEST(Timer, StopWaitsForTheRunningCallbackAndEndsTheTimer) {
  Signal entered;
  std::atomic<bool> finished{false};
  FnTimer timer([&](FnTimer&) {
    entered.set();
    std::this_thread::sleep_for(50ms);
    return finished = true;
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
    return self.StartTimer(1);
  });
  ASSERT_TRUE(timer.StartTimer(1));
  ASSERT_TRUE(entered.wait());
  std::thread stopper([&] { timer.StopTimerWithWait(); });
  stopping.set();
  stopper.join();
  EXPECT_FALSE(timer.isRunning());
}

TEST(Timer, CallbackMayRescheduleOrStopItsOwnTimer) {
  FnTimer rescheduling([](FnTimer& self) { return self.StartTimer(2); });
  ASSERT_TRUE(rescheduling.StartTimer(10));
  EXPECT_TRUE(rescheduling.waitForCalls(3));

  FnTimer stopping([](FnTimer& self) {
    self.StopTimerWithWait();  // from its own pass: stops without waiting for itself
    self.StopTimerWithWait();
    return true;
  });
  ASSERT_TRUE(stopping.StartTimer(1));
  ASSERT_TRUE(stopping.waitForCalls(1));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(stopping.calls_, 1);
  ASSERT_TRUE(stopping.StartTimer(1));  // a new thread replaces the ended one
  EXPECT_TRUE(stopping.waitForCalls(2));
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
