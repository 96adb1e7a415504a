// Handles, waits and threads of the Linux layer: invalid and stale handles, time-outs, events,
// waits for several objects, DuplicateHandle, thread start, ids, exit codes and the per-thread
// information block.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "winapi.h"

namespace {

HANDLE newEvent(bool manualReset, bool initial = false) { return CreateEventW(nullptr, manualReset, initial, nullptr); }

HANDLE duplicate(HANDLE source) {
  HANDLE copy = nullptr;
  return DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)
             ? copy
             : nullptr;
}

#define EXPECT_ERROR(call, result, code) \
  do {                                   \
    SetLastError(0);                     \
    EXPECT_EQ(call, result);             \
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(code)); \
  } while (0)

TEST(HandleTable, ClosedStaleAndUnknownHandlesAreInvalid) {
  HANDLE stale = newEvent(true);
  ASSERT_TRUE(CloseHandle(stale));
  // The freed slot is reused by one of these; the stale value must not reach it.
  std::vector<HANDLE> fresh;
  for (int i = 0; i < 8; ++i) fresh.push_back(newEvent(true));
  EXPECT_ERROR(CloseHandle(stale), FALSE, ERROR_INVALID_HANDLE);
  EXPECT_ERROR(SetEvent(stale), FALSE, ERROR_INVALID_HANDLE);
  EXPECT_ERROR(WaitForSingleObject(stale, 0), WAIT_FAILED, ERROR_INVALID_HANDLE);
  for (HANDLE h : fresh) {
    EXPECT_GT(reinterpret_cast<intptr_t>(h), 0);  // never null, -1 (process) or -2 (thread)
    EXPECT_EQ(reinterpret_cast<uintptr_t>(h) % 4, 0u);
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
    CloseHandle(h);
  }
  for (HANDLE h : {HANDLE(nullptr), GetCurrentProcess(), reinterpret_cast<HANDLE>(0x1234)})
    EXPECT_ERROR(WaitForSingleObject(h, 0), WAIT_FAILED, ERROR_INVALID_HANDLE);
  EXPECT_TRUE(CloseHandle(GetCurrentThread())) << "closing a pseudo-handle has no effect";
}

TEST(Events, AutoResetPassesOneWaitPerSetManualStaysSetAndWaitAnyTakesTheLowest) {
  HANDLE autoReset = newEvent(false), manual = newEvent(true, true);
  EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_TIMEOUT);
  SetEvent(autoReset);
  EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  ResetEvent(manual);
  // A finite time-out waits at least that long.
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(manual, 120), WAIT_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
  CloseHandle(autoReset);
  CloseHandle(manual);

  // Waiting for any of several objects reports the lowest signalled one and consumes only it.
  HANDLE all[] = {newEvent(false), newEvent(false), newEvent(false)};
  SetEvent(all[1]);
  SetEvent(all[2]);
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 30), WAIT_TIMEOUT);
  HANDLE withBad[] = {all[0], reinterpret_cast<HANDLE>(0x40)};
  EXPECT_ERROR(WaitForMultipleObjects(2, withBad, FALSE, 0), WAIT_FAILED, ERROR_INVALID_HANDLE);
  for (HANDLE h : all) CloseHandle(h);
}

DWORD WINAPI waitOnEvent(LPVOID event) { return WaitForSingleObject(static_cast<HANDLE>(event), INFINITE) + 7; }

TEST(DuplicateHandle, WaitOnDuplicateSurvivesCloseOfTheOriginalThreadHandle) {
  HANDLE release = newEvent(true);
  HANDLE thread = CreateThread(nullptr, 0, waitOnEvent, release, 0, nullptr);
  HANDLE copy = duplicate(thread);
  ASSERT_NE(copy, nullptr);
  std::atomic<DWORD> result{WAIT_FAILED};
  std::thread waiter([&] { result = WaitForSingleObject(copy, 10000); });
  Sleep(30);
  ASSERT_TRUE(CloseHandle(thread));  // the thread's owner lets go while someone waits on the copy
  SetEvent(release);
  waiter.join();
  EXPECT_EQ(result.load(), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(copy, &code));
  EXPECT_EQ(code, 7u);
  CloseHandle(copy);
  CloseHandle(release);
}

TEST(DuplicateHandle, CurrentThreadPseudoHandleBecomesARealHandleToTheCaller) {
  std::atomic<HANDLE> shared{nullptr};
  std::thread worker([&] {
    shared = duplicate(GetCurrentThread());
    Sleep(50);
  });
  while (!shared.load()) Sleep(1);
  HANDLE self = shared.load();
  EXPECT_EQ(WaitForSingleObject(self, 0), WAIT_TIMEOUT);
  worker.join();
  // Signalled once that thread has ended, although the layer did not create it.
  EXPECT_EQ(WaitForSingleObject(self, 5000), WAIT_OBJECT_0);
  CloseHandle(self);
}

// A suspended start, ResumeThread and exit codes are checked through the framework's thread
// start, which runs on these calls.
TEST(Threads, ThreadIdIsStableAndDistinct) {
  DWORD mine = GetCurrentThreadId();
  EXPECT_EQ(mine, GetCurrentThreadId());
  DWORD other = 0;
  std::thread([&] { other = GetCurrentThreadId(); }).join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, mine);
}

DWORD WINAPI sleepBriefly(LPVOID) {
  Sleep(50);
  return 0;
}

TEST(Threads, ClosingTheOnlyHandleLeavesTheThreadRunningToItsEnd) {
  for (int i = 0; i < 20; ++i) {
    HANDLE thread = CreateThread(nullptr, 64 * 1024, sleepBriefly, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    CloseHandle(thread);
  }
  Sleep(200);  // the threads end on their own; the sanitizers check nothing was freed early
}

// The module keeps a thread's name in the information block's user pointer, reached through
// NT_TIB at the start of the block: one slot per thread, empty when the thread starts.
TEST(ThreadBlock, ArbitraryUserPointerIsPerThread) {
  static int marker;
  const auto slot = [] { return &reinterpret_cast<NT_TIB*>(NtCurrentTeb())->ArbitraryUserPointer; };
  *slot() = &marker;
  EXPECT_EQ(NtCurrentTeb()->NtTib.ArbitraryUserPointer, &marker);
  void* theirs = &marker;
  std::thread([&] { theirs = *slot(); }).join();
  EXPECT_EQ(theirs, nullptr) << "a new thread starts with an empty slot";
  *slot() = nullptr;
}

}  // namespace
