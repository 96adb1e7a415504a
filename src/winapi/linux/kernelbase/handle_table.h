// The Linux layer's handle table: every HANDLE (thread, event, process, token) names a shared
// kernel object; duplicates name the same object, and a closed handle is invalid at once.
#pragma once
#include <memory>

#include "winapi.h"

namespace winapi_linux {

struct KernelObject {
  virtual ~KernelObject() = default;
  // Threads and events are waitable; WaitForSingleObject on anything else fails with
  // ERROR_INVALID_HANDLE. Waitable objects derive from Waitable (waitable.h).
  virtual bool waitable() const { return false; }
};

// Enters the object and returns a new handle to it (never null, never INVALID_HANDLE_VALUE, never
// a pseudo-handle; a multiple of 4 as on Windows). Null only when the table is full.
HANDLE insertHandle(std::shared_ptr<KernelObject> object);
// The object behind a handle, or null when the handle is not open (callers then set
// ERROR_INVALID_HANDLE).
std::shared_ptr<KernelObject> lookupHandle(HANDLE handle);
template <class T>
std::shared_ptr<T> lookupHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(lookupHandle(handle));
}
// Removes the handle; false when it was not open. The object is released outside the table's
// lock, so its destructor may use the table.
bool removeHandle(HANDLE handle);

}  // namespace winapi_linux
