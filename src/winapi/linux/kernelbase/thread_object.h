// The kernel object behind a thread handle: start gate, id, exit state and scheduling wishes.
#pragma once
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "kernelbase/waitable.h"

namespace winapi_linux {

class ThreadObject final : public Waitable {
 public:
  // A thread about to be created: it waits at the start gate while the suspend count is above 0.
  explicit ThreadObject(DWORD suspendCount) : suspendCount_(suspendCount) {}

  // Called by the new thread once it runs; the creator waits for it in awaitId.
  void publishId(DWORD id);
  DWORD awaitId();
  DWORD id();
  // Blocks the new thread until the suspend count drops to 0.
  void awaitStart();
  // Decrements the suspend count; returns the previous count.
  DWORD resume();

  // Signals every waiter: the thread has ended with `code`.
  void markFinished(DWORD code);
  bool finished() const;
  // STILL_ACTIVE while the thread runs.
  DWORD exitCode() const;

  // The Windows priority last set (THREAD_PRIORITY_NORMAL until then).
  int priority() const { return priority_.load(std::memory_order_relaxed); }
  void setPriority(int priority) { priority_.store(priority, std::memory_order_relaxed); }
  // The affinity mask last applied (0 until then).
  DWORD_PTR affinity() const { return affinity_.load(std::memory_order_relaxed); }
  void setAffinity(DWORD_PTR mask) { affinity_.store(mask, std::memory_order_relaxed); }

  bool signalledLocked() const override { return finished_; }

 private:
  std::mutex gateMutex_;
  std::condition_variable gate_;
  DWORD id_ = 0;
  DWORD suspendCount_;

  // Guarded by dispatcher().mutex.
  bool finished_ = false;
  DWORD exitCode_ = STILL_ACTIVE;

  std::atomic<int> priority_{THREAD_PRIORITY_NORMAL};
  std::atomic<DWORD_PTR> affinity_{0};
};

// The object of the calling thread; a thread the layer did not create gets one on first use,
// signalled when that thread ends. Null only while the thread is being torn down.
std::shared_ptr<ThreadObject> currentThreadObject();

}  // namespace winapi_linux
