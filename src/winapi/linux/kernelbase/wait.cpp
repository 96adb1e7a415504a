// WaitForSingleObject and WaitForMultipleObjects over the dispatcher lock.
#include <chrono>
#include <optional>
#include <vector>

#include "common/no_destructor.h"
#include "kernelbase/waitable.h"

namespace winapi_linux {

Dispatcher& dispatcher() {
  static NoDestructor<Dispatcher> instance;
  return instance.get();
}

namespace {

constexpr DWORD kMaximumWaitObjects = 64;

using Clock = std::chrono::steady_clock;

// Resolves the handles; null (with the last error set) when one is not a waitable object.
std::optional<std::vector<std::shared_ptr<Waitable>>> resolve(const HANDLE* handles, DWORD count) {
  std::vector<std::shared_ptr<Waitable>> objects;
  objects.reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    auto object = lookupHandleAs<Waitable>(handles[i]);
    if (!object) {
      SetLastError(ERROR_INVALID_HANDLE);
      return std::nullopt;
    }
    objects.push_back(std::move(object));
  }
  return objects;
}

// Index of the object that satisfied the wait (acquired), or -1. Called under the lock.
int trySatisfy(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll) {
  if (waitAll) {
    for (const auto& object : objects)
      if (!object->signalledLocked()) return -1;
    for (const auto& object : objects) object->acquireLocked();
    return 0;
  }
  for (size_t i = 0; i < objects.size(); ++i) {
    if (objects[i]->signalledLocked()) {
      objects[i]->acquireLocked();
      return static_cast<int>(i);
    }
  }
  return -1;
}

DWORD waitFor(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll, DWORD milliseconds) {
  Dispatcher& d = dispatcher();
  std::unique_lock lock(d.mutex);
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    int index = trySatisfy(objects, waitAll);
    if (index >= 0) return WAIT_OBJECT_0 + static_cast<DWORD>(index);
    if (milliseconds == 0) return WAIT_TIMEOUT;
    if (milliseconds == INFINITE) {
      d.changed.wait(lock);
    } else if (d.changed.wait_until(lock, deadline) == std::cv_status::timeout) {
      index = trySatisfy(objects, waitAll);
      return index >= 0 ? WAIT_OBJECT_0 + static_cast<DWORD>(index) : WAIT_TIMEOUT;
    }
  }
}

}  // namespace

}  // namespace winapi_linux

using namespace winapi_linux;

WINAPI_LAYER DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds) {
  auto objects = resolve(&h, 1);
  if (!objects) return WAIT_FAILED;
  return waitFor(*objects, false, milliseconds);
}

WINAPI_LAYER DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  if (count == 0 || count > kMaximumWaitObjects || !handles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  auto objects = resolve(handles, count);
  if (!objects) return WAIT_FAILED;
  if (waitAll) {
    // Waiting for all of a list that names one object twice is refused, as on Windows.
    for (DWORD i = 0; i < count; ++i)
      for (DWORD j = i + 1; j < count; ++j)
        if ((*objects)[i] == (*objects)[j]) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return WAIT_FAILED;
        }
  }
  return waitFor(*objects, waitAll != FALSE, milliseconds);
}
