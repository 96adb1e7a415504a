// Runnables, thread groups, the all-threads wait and the thread-name record.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/runnable.h"
#include "frame/thread_group.h"
#include "frame/thread_name.h"
#include "frame_test_env.h"

namespace {

using frame_test::Gate;
using frame_test::LogLine;
using frame_test::LogRecorder;
class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    frame_test::useTemporaryRegistry();
    // Names on, whatever an earlier run left in a shared registry.
    CORE::registryWrite(L"HKLM\\Software\\Vantrel\\Orvane\\varnelUseThreadNames", {1, L"1", {}});
  }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new Environment);

// A runnable whose run blocks until the test opens its gate.
class GatedRunnable : public CORE::corerunnable {
 public:
  explicit GatedRunnable(const char* name, CORE::corethreadgroup* group = nullptr) {
    configure(name, nullptr, group, 0);
  }
  void run() override {
    ++runs;
    threadId = GetCurrentThreadId();
    started.open();
    release.wait();
  }
  std::atomic<int> runs{0};
  std::atomic<uint32_t> threadId{0};
  Gate started, release;
};

TEST(Runnable, SecondLaunchWhileRunningIsRefusedAndLeavesTheFirstThreadAlone) {
  LogRecorder log;
  auto* runnable = new GatedRunnable("gated");
  ASSERT_TRUE(runnable->launch());
  ASSERT_TRUE(runnable->started.wait());
  const uint32_t firstId = runnable->getThreadId();

  EXPECT_FALSE(runnable->launch());
  EXPECT_EQ(log.count([](const LogLine& l) {
    return l.kind == LogLine::External && l.level == 1 && l.text == L"corerunnable: ONLY ONE THREAD ALLOWED WHEN NO GROUP, name=gated";
  }),
            1u);
  EXPECT_EQ(runnable->getThreadId(), firstId);
  EXPECT_EQ(runnable->runs.load(), 1);

  runnable->release.open();
  runnable->wait();
  EXPECT_EQ(runnable->getThreadId(), 0u);
  ASSERT_TRUE(runnable->launch());  // idle again
  runnable->wait();
  EXPECT_EQ(runnable->runs.load(), 2);
  runnable->Release();
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
}

TEST(ThreadGroup, TimedWaitsOnARunningThreadListItsIdOnceAfterTwoSeconds) {
  LogRecorder log;
  auto* group = new CORE::corethreadgroup("workers");
  auto* runnable = new GatedRunnable("member", group);
  ASSERT_TRUE(runnable->launch());
  ASSERT_TRUE(runnable->started.wait());

  group->wait(300);
  EXPECT_TRUE(log.texts().empty());
  group->wait(3500);
  const std::vector<std::wstring> expected = {
      L"corethreadgroup::wait threadIds: " + std::to_wstring(runnable->threadId.load()),
      L"corethreadgroup::wait done"};
  EXPECT_EQ(log.texts(), expected);

  // A grouped runnable is joined through its group, never by itself.
  runnable->wait();
  EXPECT_EQ(log.count(L"corerunnable: ERROR: WAIT WHEN IN GROUP, name=member"), 1u);
  runnable->release.open();
  runnable->Release();
  group->wait(INFINITE);
  EXPECT_EQ(group->memberCount(), 0u);

  // A member whose handle is no longer open must not hold a wait up.
  const HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(closed);
  group->add(4242, closed);
  group->wait(INFINITE);
  EXPECT_EQ(group->memberCount(), 0u);
  group->Release();
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
}

// Copies the calling thread's name record (or nothing) out of its thread block.
struct RecordProbe {
  std::string record;
  static void body(void* self) {
    const uint8_t* slot = CORE::currentThreadNameRecord();
    if (slot != nullptr) static_cast<RecordProbe*>(self)->record.assign(slot, slot + slot[5] + 6);
  }
};

TEST(ThreadName, ANameOf300BytesKeepsItsFirst254) {
  std::string name;
  for (int i = 0; i < 300; ++i) name += static_cast<char>('a' + i % 26);
  RecordProbe named, unnamed;
  const auto direct = CORE::corerun::noWrapper();
  ASSERT_TRUE(CORE::corerun::startThread(name.c_str(), &RecordProbe::body, &named, direct, nullptr, 0));
  ASSERT_TRUE(CORE::corerun::startThread("", &RecordProbe::body, &unnamed, direct, nullptr, 0));
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
  EXPECT_EQ(named.record, "name=\xFF" + name.substr(0, 254) + '\0');
  EXPECT_EQ(unnamed.record, "");
}

void throwing(void*) { throw std::runtime_error("boom"); }

TEST(Threads, AnExceptionLeavingTheBodyIsLoggedAndTheThreadStillEnds) {
  LogRecorder log;
  ASSERT_TRUE(CORE::corerun::startThread("thrower", &throwing, nullptr, CORE::corerun::noWrapper(), nullptr, 0));
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
  EXPECT_EQ(log.count(L"corerunnable: EXCEPTION IN THREAD, name=thrower"), 1u);
}

}  // namespace
