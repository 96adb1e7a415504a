// Manual timers as the runner drives them: started timers fire only when ticked, each on its
// own thread, results in start order, different timers side by side, never beside a running
// callback of the same timer, and stopped or destroyed timers are never ticked.
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

class ManualTimers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { CORE::setManualTimers(true); }
  static void TearDownTestSuite() { CORE::setManualTimers(false); }
};

class FnTimer : public CORE::coretimer {
 public:
  explicit FnTimer(std::function<bool()> body) : body_(std::move(body)) {}
  ~FnTimer() override { StopTimerWithWait(); }
  bool TimerCallback() override {
    if (++inside_ > 1) overlapped = true;
    thread = std::this_thread::get_id();
    const bool result = body_();
    --inside_;
    return result;
  }
  std::atomic<bool> overlapped{false};
  std::thread::id thread;  // read after tickTimers returned

 private:
  std::function<bool()> body_;
  std::atomic<int> inside_{0};
};

TEST_F(ManualTimers, TicksRunStartedTimersOnTheirOwnThreadsInStartOrder) {
  std::atomic<int> calls{0};
  FnTimer second([&] { return ++calls, false; });
  FnTimer first([&] { return ++calls, true; });
  FnTimer idle([&] { return ++calls, true; });
  ASSERT_TRUE(first.StartTimer(1));
  ASSERT_TRUE(second.StartTimer(1));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(calls, 0);  // never on their own
  EXPECT_EQ(CORE::tickTimers(), (std::vector<bool>{true, false}));
  EXPECT_EQ(calls, 2);
  EXPECT_NE(first.thread, std::this_thread::get_id());
  EXPECT_NE(first.thread, second.thread);
}

TEST_F(ManualTimers, CallbacksOfDifferentTimersRunSideBySide) {
  Signal aIn, bIn;  // each callback waits for the other: only concurrent ticks complete
  FnTimer a([&] { return aIn.set(), bIn.wait(); });
  FnTimer b([&] { return bIn.set(), aIn.wait(); });
  a.StartTimer(30000);
  b.StartTimer(30000);
  EXPECT_EQ(CORE::tickTimers(), (std::vector<bool>{true, true}));
}

TEST_F(ManualTimers, ATickNeverRunsBesideARunningCallbackOfTheSameTimer) {
  Signal entered, release;
  std::atomic<int> calls{0};
  FnTimer timer([&] {
    if (calls++ == 0) entered.set(), release.wait();
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
  EXPECT_FALSE(timer.overlapped);
}

TEST_F(ManualTimers, StoppedAndDestroyedTimersAreNotTicked) {
  std::atomic<int> calls{0};
  FnTimer stopped([&] { return ++calls, true; });
  stopped.StartTimer(30000);
  stopped.StopTimerWithWait();
  {
    FnTimer gone([&] { return ++calls, true; });
    gone.StartTimer(30000);
  }
  EXPECT_TRUE(CORE::tickTimers().empty());
  EXPECT_EQ(calls, 0);
}

}  // namespace
