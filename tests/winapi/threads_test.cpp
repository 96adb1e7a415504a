// Threads of the Linux layer: suspended start, ids, exit codes, scheduling wishes, the
// per-thread information block.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "winapi.h"

namespace {

std::atomic<DWORD> g_idSeen{0};

DWORD WINAPI recordId(LPVOID) {
  g_idSeen = GetCurrentThreadId();
  return 1234;
}

DWORD exitCodeOf(HANDLE thread) {
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  return code;
}

TEST(Threads, SuspendedThreadWaitsForResumeButReportsItsIdAtOnce) {
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, recordId, nullptr, CREATE_SUSPENDED, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_EQ(WaitForSingleObject(thread, 50), WAIT_TIMEOUT);
  EXPECT_EQ(g_idSeen.load(), 0u);
  EXPECT_EQ(exitCodeOf(thread), STILL_ACTIVE);

  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(g_idSeen.load(), id);
  EXPECT_EQ(exitCodeOf(thread), 1234u);
  EXPECT_EQ(ResumeThread(thread), 0u);
  CloseHandle(thread);
}

TEST(Threads, ThreadIdIsTheKernelIdStableAndDistinct) {
  DWORD mine = GetCurrentThreadId();
  EXPECT_EQ(mine, static_cast<DWORD>(syscall(SYS_gettid)));
  EXPECT_EQ(mine, GetCurrentThreadId());
  DWORD other = 0;
  std::thread([&] { other = GetCurrentThreadId(); }).join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, mine);
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
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

DWORD WINAPI scheduleSelf(LPVOID) {
  // Raising the priority may lack privilege: the call succeeds anyway and the wish is kept.
  if (!SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST)) return 1;
  if (SetThreadPriority(GetCurrentThread(), 7) || GetLastError() != ERROR_INVALID_PARAMETER) return 2;
  DWORD_PTR first = SetThreadAffinityMask(GetCurrentThread(), 1);
  if (first == 0) return 3;
  if (SetThreadAffinityMask(GetCurrentThread(), first) != 1) return 4;  // the previous mask
  if (SetThreadAffinityMask(GetCurrentThread(), 0) != 0) return 5;
  return 0;
}

TEST(Threads, PriorityAndAffinityAreBestEffortAndRemembered) {
  HANDLE thread = CreateThread(nullptr, 0, scheduleSelf, nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(exitCodeOf(thread), 0u);
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_HIGHEST);
  CloseHandle(thread);
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_ERROR_RETURN);
}

void* slotAt0x28(PTEB teb) {
  void* slot;
  std::memcpy(&slot, reinterpret_cast<const char*>(teb) + 0x28, sizeof slot);
  return slot;
}

TEST(ThreadBlock, ArbitraryUserPointerIsPerThreadAtOffset0x28) {
  static int marker;
  PTEB mine = NtCurrentTeb();
  EXPECT_EQ(mine->NtTib.Self, &mine->NtTib);
  mine->NtTib.ArbitraryUserPointer = &marker;
  EXPECT_EQ(slotAt0x28(NtCurrentTeb()), &marker);
  PTEB theirs = nullptr;
  void* theirSlot = &marker;
  std::thread([&] {
    theirs = NtCurrentTeb();
    theirSlot = slotAt0x28(theirs);
  }).join();
  EXPECT_NE(theirs, mine);
  EXPECT_EQ(theirSlot, nullptr) << "a new thread starts with an empty slot";
  mine->NtTib.ArbitraryUserPointer = nullptr;
}

}  // namespace
