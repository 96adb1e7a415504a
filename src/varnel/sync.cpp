// CORE::corecritsec (recursive lock) and CORE::coreevent (manual or auto-reset event).
#include "varnel/sync.h"

#include <chrono>

namespace CORE {

corecritsec::corecritsec(const wchar_t* name) { (void)name; }  // names are for debuggers only
corecritsec::~corecritsec() = default;
void corecritsec::lock() { mutex_.lock(); }
void corecritsec::unlock() { mutex_.unlock(); }
bool corecritsec::try_lock() { return mutex_.try_lock(); }

// The name, security attributes and flags of the system call are accepted for the familiar
// signature; the event is private to the process.
coreevent::coreevent(const wchar_t* name, void* securityAttributes, bool initialState, bool autoReset,
                     uint32_t flags)
    : signalled_(initialState), autoReset_(autoReset) {
  (void)name;
  (void)securityAttributes;
  (void)flags;
}

coreevent::~coreevent() = default;

bool coreevent::wait(uint32_t milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto isSet = [this] { return signalled_; };
  if (milliseconds == 0xFFFFFFFFu) {
    cv_.wait(lock, isSet);
  } else if (!cv_.wait_until(lock, std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds),
                             isSet)) {
    return false;
  }
  if (autoReset_) signalled_ = false;  // this waiter takes the signal
  return true;
}

void coreevent::set() {
  // Notified under the lock: a waiter that wakes may destroy the event as soon as it returns.
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = true;
  // An auto-reset event releases one waiter per set; a manual one releases all of them.
  if (autoReset_) cv_.notify_one();
  else cv_.notify_all();
}

void coreevent::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

}  // namespace CORE
