// The host's thread facilities and locks: a thread created suspended runs only once resumed, the
// default wrapper runs a body and logs what it throws, corecritsec is recursive and serialises
// threads, and coreevent's manual and auto reset across threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "recording_observer.h"
#include "varnel/sync.h"
#include "varnel/threads.h"
#include "winapi.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::atomic<unsigned> g_ranOn{0};

unsigned recordStart(void*) {
  g_ranOn = GetCurrentThreadId();
  return 7;
}

TEST(BeginThread, SuspendedThreadRunsOnlyAfterResume) {
  g_ranOn = 0;
  unsigned id = 0;
  const auto h = reinterpret_cast<HANDLE>(
      CORE::corerunnable_beginthreadex(nullptr, 0, recordStart, nullptr, CREATE_SUSPENDED, &id));
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(WaitForSingleObject(h, 50), WAIT_TIMEOUT);
  EXPECT_EQ(g_ranOn, 0u);
  EXPECT_EQ(ResumeThread(h), 1u);
  ASSERT_EQ(WaitForSingleObject(h, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(g_ranOn, id);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(h, &code));
  EXPECT_EQ(code, 7u);
  CloseHandle(h);
  EXPECT_EQ(CORE::corerunnable_beginthreadex(nullptr, 0, nullptr, nullptr, 0, nullptr), 0u);
}

TEST(DefaultWrapper, RunsTheBodyAndLogsWhatItThrows) {
  varnel_test::RecordingObserver observer;
  CORE::corethreadwrapper* wrapper = CORE::corerunnable_defaultThreadWrapper;
  wrapper->Release();  // a static object: never deleted
  int runs = 0;
  wrapper->run([](void* c) { ++*static_cast<int*>(c); }, &runs);
  EXPECT_EQ(runs, 1);
  wrapper->run([](void*) { throw std::runtime_error("boom"); }, nullptr);
  const auto events = observer.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].number, 4);  // Error
  EXPECT_EQ(events[0].name, L"varnel");
  EXPECT_EQ(events[0].text, L"thread ended by exception: boom");
  EXPECT_NE(CORE::threadwrapper_deconstructed, wrapper);
}

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
