// The host's thread facilities: timers, then threads and locks.
// Manual timers as the runner drives them (fired only when ticked, each on its own thread, results
// in start order, never stopped or destroyed ones, never beside a running callback of the same
// timer), and timers running on their
// own (a new period takes effect at once, callbacks never overlap, a stop waits for the running
// pass and prevails over a restart by that pass, callbacks may stop their own timer,
// the host sees every start and stop). A thread created suspended runs only once resumed, the
// default wrapper logs what a body throws, corecritsec is recursive and excludes other threads,
// and coreevent's manual and auto reset across threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "recording_observer.h"
#include "varnel/coretimer.h"
#include "varnel/host_control.h"
#include "varnel/sync.h"
#include "varnel/threads.h"
#include "winapi.h"

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

TEST_F(ManualTimers, TicksRunStartedTimersSideBySideOnTheirOwnThreadsInStartOrder) {
  Signal firstIn, secondIn;  // each callback waits for the other: only concurrent ticks complete
  FnTimer second([&](FnTimer&) { return secondIn.set(), !firstIn.wait(); });
  FnTimer first([&](FnTimer&) { return firstIn.set(), secondIn.wait(); });
  FnTimer stopped;
  ASSERT_TRUE(first.StartTimer(1));
  ASSERT_TRUE(second.StartTimer(1));
  stopped.StartTimer(1);
  stopped.StopTimerWithWait();
  FnTimer([](FnTimer&) { return ADD_FAILURE(), true; }).StartTimer(1);  // destroyed at once
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(first.calls_ + second.calls_, 0);  // never on their own
  EXPECT_EQ(CORE::tickTimers(), (std::vector<bool>{true, false}));
  EXPECT_EQ(first.calls_ + second.calls_ + stopped.calls_, 2);
  EXPECT_NE(first.thread_, std::this_thread::get_id());
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

TEST(Timer, ANewPeriodTakesEffectWhileRunningSlowCallbacksNeverOverlapAndTheHostSeesStartsAndStops) {
  varnel_test::RecordingObserver observer;
  FnTimer timer([](FnTimer&) { return std::this_thread::sleep_for(10ms), true; });
  ASSERT_TRUE(timer.StartTimer(3600 * 1000));
  ASSERT_TRUE(timer.StartTimer(1));  // an hour-long period would never fire here
  EXPECT_TRUE(timer.waitForCalls(5));
  EXPECT_FALSE(timer.StartTimer(0));
  timer.StopTimerWithWait();
  EXPECT_FALSE(timer.overlapped_);
  // The started periods reach the runner's events, checked end to end; the stop is seen here.
  EXPECT_EQ(observer.events().back().kind, L"timer-stop");
}

TEST(Timer, AWaitingStopWaitsForThePassAndPrevailsOverARestartByIt) {
  // The watch reschedules from its pass; the service's stop must still end the timer.
  Signal entered, stopping;
  std::atomic<bool> finished{false};
  FnTimer timer([&](FnTimer& self) {
    entered.set();
    stopping.wait();
    std::this_thread::sleep_for(20ms);  // let the stopper start waiting
    const bool restarted = self.StartTimer(1);
    finished = true;
    return restarted;
  });
  ASSERT_TRUE(timer.StartTimer(1));
  ASSERT_TRUE(entered.wait());
  std::thread stopper([&] { timer.StopTimerWithWait(); });
  stopping.set();
  stopper.join();
  EXPECT_TRUE(finished);
  EXPECT_FALSE(timer.isRunning());  // the restart by the pass did not survive the stop
}

TEST(Timer, CallbackMayStopItsOwnTimer) {
  FnTimer stopping([](FnTimer& self) {
    self.StopTimerWithWait();  // from its own pass: stops without waiting for itself
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

TEST(BeginThread, SuspendedThreadRunsOnlyAfterResume) {
  static std::atomic<unsigned> ranOn{0};
  const auto recordStart = [](void*) -> unsigned { return ranOn = GetCurrentThreadId(), 0; };
  unsigned id = 0;
  const auto h = reinterpret_cast<HANDLE>(
      CORE::corerunnable_beginthreadex(nullptr, 0, recordStart, nullptr, CREATE_SUSPENDED, &id));
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(WaitForSingleObject(h, 50), WAIT_TIMEOUT);
  EXPECT_EQ(ranOn, 0u);
  EXPECT_EQ(ResumeThread(h), 1u);
  ASSERT_EQ(WaitForSingleObject(h, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(ranOn, id);
  CloseHandle(h);
  EXPECT_EQ(CORE::corerunnable_beginthreadex(nullptr, 0, nullptr, nullptr, 0, nullptr), 0u);
}

TEST(DefaultWrapper, LogsWhatTheBodyThrows) {
  varnel_test::RecordingObserver observer;
  CORE::corethreadwrapper* wrapper = CORE::corerunnable_defaultThreadWrapper;
  wrapper->Release();  // a static object: never deleted
  wrapper->run([](void*) { throw std::runtime_error("boom"); }, nullptr);
  const auto events = observer.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].number, 4);  // Error
  EXPECT_NE(events[0].text.find(L"boom"), std::wstring::npos);
}

TEST(Corecritsec, IsRecursiveAndExcludesOtherThreads) {
  CORE::corecritsec cs;
  CORE::coresync outer(cs, false);
  CORE::coresync inner(&cs, false);  // same thread again: no deadlock
  std::thread([&] { EXPECT_FALSE(cs.try_lock()); }).join();
}

TEST(Coreevent, ManualResetReleasesEveryWaiterAutoResetOnePass) {
  CORE::coreevent manual(nullptr, nullptr, false, false, 0);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] { woken += manual.wait(0xFFFFFFFFu) ? 1 : 0; });
  manual.set();  // releases every waiter and stays set
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woken.load(), 3);
  EXPECT_TRUE(manual.wait(0));
  manual.reset();
  EXPECT_FALSE(manual.wait(10));

  CORE::coreevent autoReset(nullptr, nullptr, true, true, 0);
  EXPECT_TRUE(autoReset.wait(0));
  EXPECT_FALSE(autoReset.wait(0));  // the pass took the set
  std::thread waiter([&] { EXPECT_TRUE(autoReset.wait(0xFFFFFFFFu)); });
  autoReset.set();
  waiter.join();
  EXPECT_FALSE(autoReset.wait(0));
}

TEST(Coreevent, WaiterMayDestroyTheEventOnWaking) {
  for (int i = 0; i < 200; ++i) {
    auto* event = new CORE::coreevent(nullptr, nullptr, false, true, 0);
    std::thread waiter([event] {
      event->wait(0xFFFFFFFFu);
      delete event;
    });
    event->set();
    waiter.join();
  }
}

}  // namespace
