// Thread groups: membership under the group's lock and the polling wait on duplicated handles.
#include "frame/thread_group.h"

#include <algorithm>
#include <cstring>

#include "frame/logger.h"
#include "frame/scoped_handle.h"

namespace CORE {

namespace {

std::unique_ptr<char[]> copyName(const char* name) {
  if (name == nullptr || *name == 0) return nullptr;
  const size_t size = std::strlen(name) + 1;
  std::unique_ptr<char[]> copy(new char[size]);
  std::memcpy(copy.get(), name, size);
  return copy;
}

constexpr uint32_t kSliceMs = 1000;
constexpr uint32_t kListAfterMs = 2000;

}  // namespace

corethreadgroup::corethreadgroup(const char* name) : name_(copyName(name)) {}

corethreadgroup::~corethreadgroup() = default;

void corethreadgroup::add(uint32_t threadId, HANDLE handle) {
  coresync sync(lock_, false);
  members_[threadId] = handle;
}

void corethreadgroup::removeCurrentThread(bool closeHandle) {
  coresync sync(lock_, false);
  auto it = members_.find(GetCurrentThreadId());
  if (it == members_.end()) return;
  if (closeHandle) CloseHandle(it->second);
  members_.erase(it);
}

void corethreadgroup::remove(uint32_t threadId) {
  coresync sync(lock_, false);
  members_.erase(threadId);
}

uint32_t corethreadgroup::memberCount() {
  coresync sync(lock_, false);
  return static_cast<uint32_t>(members_.size());
}

void corethreadgroup::wait(uint32_t timeoutMs) {
  const DWORD start = GetTickCount();
  uint32_t remaining = timeoutMs;
  size_t lastListedCount = 0;
  bool listed = false;
  uint32_t currentId = 0;
  HANDLE currentHandle = nullptr;  // the current member's own handle
  // We wait on a duplicate of the member's handle: the ending thread or its runnable may
  // close the member's own handle at any moment.
  ScopedHandle duplicate;
  HANDLE waitOn = nullptr;  // the duplicate, or the member's own handle if duplication failed

  lock_.lock();
  while (!members_.empty()) {
    auto first = members_.begin();
    if (first->second != currentHandle) {
      duplicate.reset();
      currentId = first->first;
      currentHandle = first->second;
      HANDLE copy = nullptr;
      if (DuplicateHandle(GetCurrentProcess(), currentHandle, GetCurrentProcess(), &copy, 0, FALSE,
                          DUPLICATE_SAME_ACCESS)) {
        duplicate.reset(copy);
        waitOn = copy;
      } else {
        const DWORD error = GetLastError();
        if (error == ERROR_INVALID_HANDLE) {
          // The thread is gone and its handle closed: drop it quietly.
          members_.erase(first);
          currentId = 0;
          currentHandle = nullptr;
          waitOn = nullptr;
          continue;
        }
        waitOn = currentHandle;
        lock_.unlock();
        theLogger.logError(L"corethreadgroup::wait DuplicateHandle error=0x%X", static_cast<uint32_t>(error));
        lock_.lock();
      }
    }

    if (members_.size() != lastListedCount && GetTickCount() - start > kListAfterMs) {
      corestring ids;
      for (const auto& member : members_) ids += corestring(L" ") + corestring(member.first, 10);
      lastListedCount = members_.size();
      lock_.unlock();
      theLogger.logTrace(L"corethreadgroup::wait threadIds:%s", ids);
      listed = true;
    } else {
      lock_.unlock();
    }

    const DWORD sliceStart = GetTickCount();
    const DWORD result = WaitForSingleObject(waitOn, std::min(remaining, kSliceMs));
    const DWORD took = GetTickCount() - sliceStart;
    lock_.lock();

    if (result != WAIT_TIMEOUT) {
      // Ended (or no longer waitable): drop it unless the slot was reused meanwhile.
      auto it = members_.find(currentId);
      if (it != members_.end() && it->second == currentHandle) members_.erase(it);
    } else if (remaining < kSliceMs) {
      break;
    }
    if (timeoutMs != INFINITE) {
      remaining -= std::min<uint32_t>(took, remaining);
      if (remaining == 0) break;
    }
  }
  lock_.unlock();
  duplicate.reset();

  if (listed) theLogger.logTrace(L"corethreadgroup::wait done");
}

std::atomic<bool> allThreadsGroupAlive{false};

corerunnable_allThreadsGroup::corerunnable_allThreadsGroup() : corethreadgroup(nullptr) {
  allThreadsGroupAlive.store(true);
}

corerunnable_allThreadsGroup::~corerunnable_allThreadsGroup() { allThreadsGroupAlive.store(false); }

int32_t waitForAllThreads(uint32_t timeoutMs) {
  allThreadsGroup.wait(timeoutMs);
  Sleep(25);
  return static_cast<int32_t>(allThreadsGroup.memberCount());
}

}  // namespace CORE
