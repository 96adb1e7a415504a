// Test environment for the frame and service tests: a private registry root, a recorder of the
// module's log lines, and a gate threads can wait on.
#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "cpumem_watch_env.h"

namespace frame_test {

// A registry root of the program's own (the Windows build ignores it).
inline void useTemporaryRegistry() { watch_test::temporaryRegistry(); }

// The module's log lines, from the one module test recorder.
using LogRecorder = watch_test::Recorder;
using LogLine = watch_test::Event;
using watch_test::Match;

// A one-shot gate.
class Gate {
 public:
  void open() {
    std::lock_guard<std::mutex> guard(mutex_);
    open_ = true;
    cv_.notify_all();
  }
  bool wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(30), [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

}  // namespace frame_test
