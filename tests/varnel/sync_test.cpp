// Tests of CORE::corecritsec, coresync and coreevent across threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "varnel/sync.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(Corecritsec, IsRecursiveAndSerialisesThreads) {
  CORE::corecritsec cs;
  {
    CORE::coresync outer(cs, false);
    CORE::coresync inner(&cs, false);  // same thread again: no deadlock
    std::thread([&] { EXPECT_FALSE(cs.try_lock()); }).join();
  }
  long counter = 0;  // plain on purpose: the lock alone protects it
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        CORE::coresync hold(cs);
        ++counter;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 40000);
}

TEST(Coreevent, ManualResetTimedWaitAndReset) {
  CORE::coreevent event(nullptr, nullptr, false, false, 0);
  const auto start = Clock::now();
  EXPECT_FALSE(event.wait(50));
  EXPECT_GE(Clock::now() - start, milliseconds(45));
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] { woken += event.wait(0xFFFFFFFFu) ? 1 : 0; });
  event.set();  // releases every waiter and stays set
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woken.load(), 3);
  EXPECT_TRUE(event.wait(0));
  event.reset();
  EXPECT_FALSE(event.wait(0));
}

TEST(Coreevent, AutoResetLetsOneWaiterThroughPerSet) {
  CORE::coreevent event(nullptr, nullptr, true, true, 0);
  EXPECT_TRUE(event.wait(0));
  EXPECT_FALSE(event.wait(0));
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] { woken += event.wait(5000) ? 1 : 0; });
  for (int expected = 1; expected <= 3; ++expected) {
    std::this_thread::sleep_for(milliseconds(30));
    event.set();
    const auto deadline = Clock::now() + milliseconds(2000);
    while (woken.load() < expected && Clock::now() < deadline) std::this_thread::sleep_for(milliseconds(1));
    std::this_thread::sleep_for(milliseconds(30));  // no second waiter may follow
    EXPECT_EQ(woken.load(), expected);
  }
  for (auto& t : waiters) t.join();
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
