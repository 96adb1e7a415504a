// The handle table, CloseHandle and DuplicateHandle.
//
// A handle encodes a slot index and the slot's generation: closing a handle bumps the
// generation, so a stale value never reaches the object a reused slot holds later.
#include "kernelbase/handle_table.h"

#include <mutex>
#include <shared_mutex>
#include <utility>
#include <vector>

#include "common/no_destructor.h"
#include "kernelbase/thread_object.h"

namespace winapi_linux {

namespace {

// Bits 0-1 stay clear (handles are multiples of 4), bits 2-25 hold index + 1 (so no handle is
// null), bits 26-57 the generation. Every value is positive, so it never meets
// INVALID_HANDLE_VALUE or the small negative pseudo-handles.
constexpr unsigned kIndexShift = 2;
constexpr unsigned kIndexBits = 24;
constexpr unsigned kGenerationShift = kIndexShift + kIndexBits;
constexpr uint64_t kIndexMask = (uint64_t{1} << kIndexBits) - 1;
constexpr uint32_t kMaxSlots = static_cast<uint32_t>(kIndexMask);  // index + 1 must fit
constexpr uint32_t kGenerationLimit = UINT32_MAX;

struct Slot {
  std::shared_ptr<KernelObject> object;
  uint32_t generation = 0;
};

class HandleTable {
 public:
  HANDLE insert(std::shared_ptr<KernelObject> object) {
    std::unique_lock lock(mutex_);
    uint32_t index;
    if (!free_.empty()) {
      index = free_.back();
      free_.pop_back();
    } else {
      if (slots_.size() >= kMaxSlots) return nullptr;
      index = static_cast<uint32_t>(slots_.size());
      slots_.emplace_back();
    }
    Slot& slot = slots_[index];
    slot.object = std::move(object);
    uint64_t value = (uint64_t{slot.generation} << kGenerationShift) | (uint64_t{index + 1} << kIndexShift);
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
  }

  std::shared_ptr<KernelObject> lookup(HANDLE handle) {
    std::shared_lock lock(mutex_);
    const Slot* slot = find(handle);
    return slot ? slot->object : nullptr;
  }

  // The removed object, or null when the handle was not open.
  std::shared_ptr<KernelObject> remove(HANDLE handle) {
    std::unique_lock lock(mutex_);
    Slot* slot = find(handle);
    if (!slot) return nullptr;
    std::shared_ptr<KernelObject> object = std::move(slot->object);
    slot->object.reset();
    // A slot whose generation would wrap is retired rather than reused.
    if (++slot->generation != kGenerationLimit) free_.push_back(static_cast<uint32_t>(slot - slots_.data()));
    return object;
  }

 private:
  Slot* find(HANDLE handle) {
    auto value = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
    if (value & ((uint64_t{1} << kIndexShift) - 1)) return nullptr;
    uint64_t index = (value >> kIndexShift) & kIndexMask;
    uint64_t generation = value >> kGenerationShift;
    if (index == 0 || index > slots_.size()) return nullptr;
    Slot& slot = slots_[index - 1];
    if (!slot.object || slot.generation != generation) return nullptr;
    return &slot;
  }

  std::shared_mutex mutex_;
  std::vector<Slot> slots_;
  std::vector<uint32_t> free_;
};

HandleTable& table() {
  static NoDestructor<HandleTable> instance;
  return instance.get();
}

bool isCurrentProcess(HANDLE process) { return process == GetCurrentProcess(); }

}  // namespace

HANDLE insertHandle(std::shared_ptr<KernelObject> object) { return table().insert(std::move(object)); }

std::shared_ptr<KernelObject> lookupHandle(HANDLE handle) {
  if (handle == GetCurrentThread()) return currentThreadObject();
  return table().lookup(handle);
}

bool removeHandle(HANDLE handle) {
  // Dropped here, after the table's lock is released.
  std::shared_ptr<KernelObject> object = table().remove(handle);
  return object != nullptr;
}

}  // namespace winapi_linux

using namespace winapi_linux;

WINAPI_LAYER BOOL CloseHandle(HANDLE h) {
  // Closing a pseudo-handle has no effect, as on Windows.
  if (h == GetCurrentThread() || h == GetCurrentProcess()) return TRUE;
  if (removeHandle(h)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

WINAPI_LAYER BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target,
                                  DWORD access, BOOL inherit, DWORD options) {
  (void)access;  // one access level: every duplicate has the same access
  (void)inherit;
  if (!isCurrentProcess(sourceProcess) || !isCurrentProcess(targetProcess)) {
    // Only handles within this process can be duplicated.
    auto open = [](HANDLE process) { return isCurrentProcess(process) || lookupHandle(process) != nullptr; };
    SetLastError(open(sourceProcess) && open(targetProcess) ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // The source's object: the pseudo-handle of the calling thread yields a real handle to it.
  std::shared_ptr<KernelObject> object = lookupHandle(source);
  if (options & DUPLICATE_CLOSE_SOURCE) CloseHandle(source);  // closed even when duplication fails
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!target) return TRUE;
  HANDLE duplicate = insertHandle(std::move(object));
  if (!duplicate) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  *target = duplicate;
  return TRUE;
}
