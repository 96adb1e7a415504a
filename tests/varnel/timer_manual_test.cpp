// Manual timers as the runner drives them: started timers fire only on tickTimers, every tick
// runs each callback on its timer's own thread, results come in start order, a tick never runs
// beside a callback of the same timer, and stopped or destroyed timers are never ticked.
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
    const int inside = ++inside_;
    if (inside > 1) overlapped_ = true;
    {
      std::lock_guard lock(mutex_);
      threads_.push_back(std::this_thread::get_id());
    }
    const bool result = body_();
    --inside_;
    return result;
  }
  std::vector<std::thread::id> threads() {
    std::lock_guard lock(mutex_);
    return threads_;
  }
  bool overlapped() const { return overlapped_.load(); }

 private:
  std::function<bool()> body_;
  std::atomic<int> inside_{0};
  std::atomic<bool> overlapped_{false};
  std::mutex mutex_;
  std::vector<std::thread::id> threads_;
};

TEST_F(ManualTimers, StartedTimersFireOnlyWhenTicked) {
  std::atomic<int> calls{0};
  FnTimer timer([&] {
    ++calls;
    return true;
  });
  ASSERT_TRUE(timer.StartTimer(1));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(calls.load(), 0);
  EXPECT_EQ(CORE::tickTimers(), std::vector<bool>{true});
  EXPECT_EQ(calls.load(), 1);
}

TEST_F(ManualTimers, NothingStartedGivesNoResults) {
  FnTimer idle([] { return true; });
  EXPECT_TRUE(CORE::tickTimers().empty());
}

TEST_F(ManualTimers, ResultsComeInStartOrderFromEachTimersOwnThread) {
  FnTimer second([] { return false; });
  FnTimer first([] { return true; });
  ASSERT_TRUE(first.StartTimer(30000));
  ASSERT_TRUE(second.StartTimer(30000));
  EXPECT_EQ(CORE::tickTimers(), (std::vector<bool>{true, false}));
  EXPECT_EQ(CORE::tickTimers(), (std::vector<bool>{true, false}));

  const auto a = first.threads();
  const auto b = second.threads();
  ASSERT_EQ(a.size(), 2u);
  ASSERT_EQ(b.size(), 2u);
  EXPECT_NE(a[0], std::this_thread::get_id());
  EXPECT_EQ(a[0], a[1]);  // the timer's own thread, every time
  EXPECT_NE(a[0], b[0]);
}

TEST_F(ManualTimers, CallbacksOfDifferentTimersRunSideBySide) {
  // Each callback waits for the other: the tick only completes if both run at once.
  Signal aIn, bIn;
  FnTimer a([&] {
    aIn.set();
    return bIn.wait();
  });
  FnTimer b([&] {
    bIn.set();
    return aIn.wait();
  });
  ASSERT_TRUE(a.StartTimer(30000));
  ASSERT_TRUE(b.StartTimer(30000));
  EXPECT_EQ(CORE::tickTimers(), (std::vector<bool>{true, true}));
}

TEST_F(ManualTimers, ATickNeverRunsBesideARunningCallbackOfTheSameTimer) {
  Signal entered;
  Signal release;
  std::atomic<int> calls{0};
  FnTimer timer([&] {
    if (calls++ == 0) {
      entered.set();
      release.wait();
    }
    return true;
  });
  ASSERT_TRUE(timer.StartTimer(30000));
  std::optional<std::vector<bool>> firstTick;
  std::thread ticker([&] { firstTick = CORE::tickTimers(); });
  ASSERT_TRUE(entered.wait());

  std::optional<std::vector<bool>> secondTick;
  std::thread another([&] { secondTick = CORE::tickTimers(); });
  std::this_thread::sleep_for(30ms);  // the second tick is now queued behind the first
  release.set();
  ticker.join();
  another.join();
  EXPECT_EQ(firstTick, std::vector<bool>{true});
  EXPECT_EQ(secondTick, std::vector<bool>{true});
  EXPECT_EQ(calls.load(), 2);
  EXPECT_FALSE(timer.overlapped());
}

TEST_F(ManualTimers, StoppedAndDestroyedTimersAreNotTicked) {
  std::atomic<int> calls{0};
  FnTimer stopped([&] {
    ++calls;
    return true;
  });
  stopped.StartTimer(30000);
  stopped.StopTimerWithWait();
  {
    FnTimer gone([&] {
      ++calls;
      return true;
    });
    gone.StartTimer(30000);
  }
  EXPECT_TRUE(CORE::tickTimers().empty());
  EXPECT_EQ(calls.load(), 0);
}

TEST_F(ManualTimers, ATimerStoppedWhileItsTickWaitsGivesNoResult) {
  Signal entered;
  Signal release;
  std::atomic<int> calls{0};
  FnTimer timer([&] {
    if (calls++ == 0) {
      entered.set();
      release.wait();
    }
    return true;
  });
  timer.StartTimer(30000);
  std::thread ticker([&] { CORE::tickTimers(); });
  ASSERT_TRUE(entered.wait());
  std::optional<std::vector<bool>> queued;
  std::thread another([&] { queued = CORE::tickTimers(); });
  std::this_thread::sleep_for(30ms);
  std::thread stopper([&] { timer.StopTimerWithWait(); });
  std::this_thread::sleep_for(30ms);
  release.set();
  stopper.join();
  ticker.join();
  another.join();
  // The queued tick either ran before the stop took hold or was dropped with it.
  ASSERT_TRUE(queued.has_value());
  EXPECT_EQ(queued->size(), static_cast<size_t>(calls.load() - 1));
}

TEST_F(ManualTimers, ACallbackMayTickWithoutWaitingForItself) {
  std::optional<std::vector<bool>> inner;
  FnTimer other([] { return false; });
  FnTimer timer([&] {
    inner = CORE::tickTimers();
    return true;
  });
  timer.StartTimer(30000);
  other.StartTimer(30000);
  EXPECT_EQ(CORE::tickTimers(), (std::vector<bool>{true, false}));
  EXPECT_EQ(inner, std::vector<bool>{false});
}

}  // namespace
