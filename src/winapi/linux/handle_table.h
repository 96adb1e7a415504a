// The Linux layer's handle table: every HANDLE (thread, event, process, token) names a shared
// kernel object; duplicates name the same object, and a closed handle is invalid at once.
#pragma once
#include <memory>

#include "winapi.h"

namespace winapi_linux {

struct KernelObject {
  virtual ~KernelObject() = default;
  // Threads and events are waitable; WaitForSingleObject on anything else fails with
  // ERROR_INVALID_HANDLE.
  virtual bool waitable() const { return false; }
};

// Enters the object and returns a new handle to it (never null, never INVALID_HANDLE_VALUE).
HANDLE insertHandle(std::shared_ptr<KernelObject> object);
// The object behind a handle, or null when the handle is not open (callers then set
// ERROR_INVALID_HANDLE).
std::shared_ptr<KernelObject> lookupHandle(HANDLE handle);
template <class T>
std::shared_ptr<T> lookupHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(lookupHandle(handle));
}
// Removes the handle; false when it was not open.
bool removeHandle(HANDLE handle);

}  // namespace winapi_linux
