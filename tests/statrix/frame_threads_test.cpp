// Runnables, thread groups, the all-threads wait and the thread-name record.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
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
using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    frame_test::useTemporaryRegistry();
    // Names on, whatever an earlier run left in a shared registry.
    CORE::RegistryValue on;
    on.type = 1;
    on.text = L"1";
    CORE::registryWrite(L"HKLM\\Software\\Vantrel\\Orvane\\varnelUseThreadNames", on);
  }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new Environment);

// A runnable whose run blocks until the test releases it.
class GatedRunnable : public CORE::corerunnable {
 public:
  explicit GatedRunnable(const char* name, CORE::corethreadgroup* group = nullptr) {
    configure(name, nullptr, group, 0);
  }
  void run() override {
    ++runs;
    started.open();
    release.wait();
  }
  std::atomic<int> runs{0};
  Gate started;
  Gate release;
};

// Thread body for function threads: records its id, signals, then waits for the gate.
struct Parked {
  std::atomic<uint32_t> threadId{0};
  Gate started;
  Gate release;
  static void body(void* self) {
    auto* p = static_cast<Parked*>(self);
    p->threadId = GetCurrentThreadId();
    p->started.open();
    p->release.wait();
  }
};

bool startsWith(const std::wstring& text, const std::wstring& prefix) { return text.rfind(prefix, 0) == 0; }

TEST(Runnable, SecondLaunchWhileRunningIsRefusedAndLeavesTheFirstThreadAlone) {
  LogRecorder log;
  auto* runnable = new GatedRunnable("gated");
  ASSERT_TRUE(runnable->launch());
  ASSERT_TRUE(runnable->started.wait());
  const uint32_t firstId = runnable->getThreadId();
  EXPECT_NE(firstId, 0u);

  EXPECT_FALSE(runnable->launch());
  EXPECT_EQ(log.count([](const LogLine& l) {
    return l.external && l.level == 1 && l.text == L"corerunnable: ONLY ONE THREAD ALLOWED WHEN NO GROUP, name=gated";
  }),
            1u);
  EXPECT_EQ(runnable->getThreadId(), firstId);
  EXPECT_EQ(runnable->runs.load(), 1);

  runnable->release.open();
  runnable->wait();
  EXPECT_EQ(runnable->getThreadId(), 0u);
  // Idle again: a new launch is accepted.
  ASSERT_TRUE(runnable->launch());
  runnable->wait();
  EXPECT_EQ(runnable->runs.load(), 2);
  runnable->Release();
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
}

TEST(ThreadGroup, WaitForAllThreadsWithNothingRunningReturnsZeroQuietly) {
  CORE::waitForAllThreads(INFINITE);  // let earlier tests' threads finish leaving
  LogRecorder log;
  const auto start = Clock::now();
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
  const long long took = msSince(start);
  EXPECT_GE(took, 20);
  EXPECT_LT(took, 1000);
  EXPECT_TRUE(log.lines().empty());
}

TEST(ThreadGroup, TimedWaitsOnARunningThreadListItsIdOnceAfterTwoSeconds) {
  LogRecorder log;
  auto* group = new CORE::corethreadgroup("workers");
  Parked parked;
  ASSERT_TRUE(CORE::corerun::startThread(nullptr, &Parked::body, &parked, CORE::corerun::noWrapper(), group, 0));
  ASSERT_TRUE(parked.started.wait());
  EXPECT_EQ(group->memberCount(), 1u);

  auto start = Clock::now();
  group->wait(300);
  long long took = msSince(start);
  EXPECT_GE(took, 250);
  EXPECT_LT(took, 2500);
  EXPECT_TRUE(log.lines().empty());

  start = Clock::now();
  group->wait(3500);
  took = msSince(start);
  EXPECT_GE(took, 3000);
  EXPECT_LT(took, 8000);
  const std::vector<std::wstring> texts = log.texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], L"corethreadgroup::wait threadIds: " + std::to_wstring(parked.threadId.load()));
  EXPECT_EQ(texts[1], L"corethreadgroup::wait done");

  parked.release.open();
  group->wait(INFINITE);
  EXPECT_EQ(group->memberCount(), 0u);
  group->Release();
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
}

TEST(ThreadGroup, JoiningAGroupedRunnableIsRefusedAndAClosedHandleIsDropped) {
  LogRecorder log;
  auto* group = new CORE::corethreadgroup("pool");
  auto* runnable = new GatedRunnable("member", group);
  ASSERT_TRUE(runnable->launch());
  ASSERT_TRUE(runnable->started.wait());
  runnable->wait();  // must return at once
  EXPECT_EQ(log.countText(L"corerunnable: ERROR: WAIT WHEN IN GROUP, name=member"), 1u);
  runnable->release.open();
  runnable->Release();
  group->wait(INFINITE);
  EXPECT_EQ(group->memberCount(), 0u);

  // A member whose handle is no longer open must not hold the wait up.
  const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  CloseHandle(event);
  group->add(4242, event);
  const auto start = Clock::now();
  group->wait(INFINITE);
  EXPECT_LT(msSince(start), 2000);
  EXPECT_EQ(group->memberCount(), 0u);
  group->Release();
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
}

TEST(ThreadName, RecordIsPrefixLengthNameAndTerminator) {
  size_t size = 0;
  auto record = CORE::ThreadNameRecord::build("abc", size);
  ASSERT_EQ(size, 10u);
  EXPECT_EQ(std::memcmp(record.get(), "name=\x04" "abc\0", 10), 0);

  const std::string longName(300, 'x');
  record = CORE::ThreadNameRecord::build(longName, size);
  ASSERT_EQ(size, 261u);
  EXPECT_EQ(record[5], 255);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.get()) + 6, 254), longName.substr(0, 254));
  EXPECT_EQ(record[260], 0);
}

// Copies the calling thread's name record (or nothing) out of its thread block.
struct RecordProbe {
  std::vector<uint8_t> record;
  bool slotWasNull = false;
  static void body(void* self) {
    auto* probe = static_cast<RecordProbe*>(self);
    const uint8_t* slot = CORE::currentThreadNameRecord();
    probe->slotWasNull = slot == nullptr;
    if (slot != nullptr) probe->record.assign(slot, slot + slot[5] + 6);
  }
};

TEST(ThreadName, NamedThreadsCarryTheRecordWhileRunning) {
  std::string name;
  for (int i = 0; i < 300; ++i) name += static_cast<char>('a' + i % 26);
  RecordProbe named;
  ASSERT_TRUE(CORE::corerun::startThread(name.c_str(), &RecordProbe::body, &named, CORE::corerun::noWrapper(),
                                         nullptr, 0));
  RecordProbe unnamed;
  ASSERT_TRUE(
      CORE::corerun::startThread("", &RecordProbe::body, &unnamed, CORE::corerun::noWrapper(), nullptr, 0));
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);

  ASSERT_EQ(named.record.size(), 261u);
  EXPECT_EQ(std::string(named.record.begin(), named.record.begin() + 5), "name=");
  EXPECT_EQ(named.record[5], 255);
  EXPECT_EQ(std::string(named.record.begin() + 6, named.record.begin() + 260), name.substr(0, 254));
  EXPECT_EQ(named.record[260], 0);
  EXPECT_TRUE(unnamed.slotWasNull);
}

// A wrapper that counts the bodies it ran.
class CountingWrapper : public CORE::corethreadwrapper {
 public:
  void run(void (*body)(void*), void* context) override {
    ++runs;
    body(context);
  }
  std::atomic<int> runs{0};
};

void noop(void*) {}

TEST(Threads, DefaultWrapperRunsTheBodyAndGetsItsReferenceBack) {
  CountingWrapper wrapper;
  CORE::corethreadwrapper* const saved = CORE::corerunnable_defaultThreadWrapper;
  CORE::corerunnable_defaultThreadWrapper = &wrapper;
  const long refsBefore = wrapper.RefCount();

  ASSERT_TRUE(CORE::corerun::startThread("wrapped", &noop, nullptr, nullptr, nullptr, 0));
  ASSERT_TRUE(CORE::corerun::startThread("direct", &noop, nullptr, CORE::corerun::noWrapper(), nullptr, 0));
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
  CORE::corerunnable_defaultThreadWrapper = saved;

  EXPECT_EQ(wrapper.runs.load(), 1);
  EXPECT_EQ(wrapper.RefCount(), refsBefore);
}

TEST(Threads, TraceSwitchLogsBeginAndEndUnderThreads) {
  LogRecorder log;
  CORE::corerunnable_traceThreads = true;
  ASSERT_TRUE(CORE::corerun::startThread("traced", &noop, nullptr, CORE::corerun::noWrapper(), nullptr, 0));
  CORE::waitForAllThreads(INFINITE);
  CORE::corerunnable_traceThreads = false;

  const std::vector<LogLine> lines = log.lines();
  ASSERT_EQ(lines.size(), 2u);
  for (const LogLine& line : lines) {
    EXPECT_TRUE(line.external);
    EXPECT_EQ(line.source, L"threads");
    EXPECT_EQ(line.level, 4);
  }
  EXPECT_TRUE(startsWith(lines[0].text, L"Begin 'traced', count=1, wrapper=0x")) << lines[0].text;
  EXPECT_EQ(lines[1].text, L"End 'traced', count=0, group=0");
}

void throwing(void*) { throw std::runtime_error("boom"); }

TEST(Threads, ExceptionEscapingTheBodyIsLoggedAndTheThreadStillLeaves) {
  LogRecorder log;
  ASSERT_TRUE(CORE::corerun::startThread("thrower", &throwing, nullptr, CORE::corerun::noWrapper(), nullptr, 0));
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
  EXPECT_EQ(log.countText(L"corerunnable: EXCEPTION IN THREAD, name=thrower"), 1u);
}

}  // namespace
