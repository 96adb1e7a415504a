// The host's thread facilities: creating threads (suspended or not) through the seam, the
// default wrapper catching what a body throws, and the thread settings' defaults.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>

#include "recording_observer.h"
#include "varnel/threads.h"
#include "winapi.h"

namespace {

struct Started {
  std::atomic<bool> ran{false};
  std::atomic<unsigned> id{0};
};

unsigned recordStart(void* arg) {
  auto* s = static_cast<Started*>(arg);
  s->id = GetCurrentThreadId();
  s->ran = true;
  return 7;
}

HANDLE asHandle(uintptr_t h) { return reinterpret_cast<HANDLE>(h); }

TEST(BeginThread, SuspendedThreadRunsOnlyAfterResume) {
  Started s;
  unsigned id = 0;
  const uintptr_t h = CORE::corerunnable_beginthreadex(nullptr, 0, recordStart, &s, CREATE_SUSPENDED, &id);
  ASSERT_NE(h, 0u);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(WaitForSingleObject(asHandle(h), 50), WAIT_TIMEOUT);
  EXPECT_FALSE(s.ran.load());
  EXPECT_EQ(ResumeThread(asHandle(h)), 1u);
  ASSERT_EQ(WaitForSingleObject(asHandle(h), 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(s.ran.load());
  EXPECT_EQ(s.id.load(), id);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(asHandle(h), &code));
  EXPECT_EQ(code, 7u);
  EXPECT_TRUE(CloseHandle(asHandle(h)));
}

TEST(BeginThread, RunsAtOnceWithoutFlags) {
  Started s;
  const uintptr_t h = CORE::corerunnable_beginthreadex(nullptr, 0, recordStart, &s, 0, nullptr);
  ASSERT_NE(h, 0u);
  ASSERT_EQ(WaitForSingleObject(asHandle(h), 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(s.ran.load());
  CloseHandle(asHandle(h));
}

TEST(BeginThread, NoStartRoutineFails) {
  errno = 0;
  EXPECT_EQ(CORE::corerunnable_beginthreadex(nullptr, 0, nullptr, nullptr, 0, nullptr), 0u);
  EXPECT_NE(errno, 0);
  EXPECT_NE(GetLastError(), 0u);
}

TEST(DefaultWrapper, RunsTheBodyAndLogsWhatItThrows) {
  varnel_test::RecordingObserver observer;
  CORE::corethreadwrapper* wrapper = CORE::corerunnable_defaultThreadWrapper;
  ASSERT_NE(wrapper, nullptr);
  int runs = 0;
  wrapper->run([](void* c) { ++*static_cast<int*>(c); }, &runs);
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(observer.events().empty());

  wrapper->run([](void*) { throw std::runtime_error("boom"); }, nullptr);
  const auto events = observer.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, L"log");
  EXPECT_EQ(events[0].number, 4);  // Error
  EXPECT_EQ(events[0].name, L"varnel");
  EXPECT_NE(events[0].text.find(L"boom"), std::wstring::npos);
}

TEST(DefaultWrapper, ReferenceCountingNeverDeletesIt) {
  CORE::corethreadwrapper* wrapper = CORE::corerunnable_defaultThreadWrapper;
  for (int i = 0; i < 3; ++i) wrapper->Release();
  wrapper->AddRef();
  int runs = 0;
  wrapper->run([](void* c) { ++*static_cast<int*>(c); }, &runs);
  EXPECT_EQ(runs, 1);
}

TEST(ThreadSettings, Defaults) {
  EXPECT_NE(CORE::threadwrapper_deconstructed, nullptr);
  EXPECT_NE(CORE::threadwrapper_deconstructed, CORE::corerunnable_defaultThreadWrapper);
  EXPECT_EQ(CORE::corerunnable_threadAffinity, 0u);
  EXPECT_FALSE(CORE::corerunnable_traceThreads);
  CORE::corerunnable_initThreadAffinity();
}

}  // namespace
