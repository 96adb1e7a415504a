// The host's thread facilities: a thread created suspended runs only once resumed, and the
// default wrapper runs a body and logs what it throws.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "recording_observer.h"
#include "varnel/threads.h"
#include "winapi.h"

namespace {

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

}  // namespace
