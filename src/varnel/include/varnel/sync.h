// CORE::corecritsec (recursive lock), coresync (its scope guard) and coreevent.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace CORE {

class VARNEL_API corecritsec {
 public:
  explicit corecritsec(const wchar_t* name = nullptr);
  corecritsec(const corecritsec&) = delete;
  corecritsec& operator=(const corecritsec&) = delete;
  ~corecritsec();
  void lock();
  void unlock();
  bool try_lock();

 private:
  std::recursive_mutex mutex_;
};

// Holds the lock for its scope. `flag` is reserved (the module passes false).
class coresync {
 public:
  explicit coresync(corecritsec& cs, bool flag = false) : cs_(&cs) {
    (void)flag;
    cs_->lock();
  }
  explicit coresync(corecritsec* cs, bool flag = false) : cs_(cs) {
    (void)flag;
    if (cs_) cs_->lock();
  }
  coresync(const coresync&) = delete;
  coresync& operator=(const coresync&) = delete;
  ~coresync() {
    if (cs_) cs_->unlock();
  }

 private:
  corecritsec* cs_;
};

// An event: wait(ms) is true when signalled (0xFFFFFFFF waits for ever). Auto-reset events let
// one waiter through per set() and clear themselves.
class VARNEL_API coreevent {
 public:
  coreevent(const wchar_t* name, void* securityAttributes, bool initialState, bool autoReset, uint32_t flags);
  coreevent(const coreevent&) = delete;
  coreevent& operator=(const coreevent&) = delete;
  ~coreevent();
  bool wait(uint32_t milliseconds);
  void set();
  void reset();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_;
  bool autoReset_;
};

}  // namespace CORE
