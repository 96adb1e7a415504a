// A host observer for the runtime's tests (records log lines and timer starts and stops), and a
// one-shot latch for handing control between threads.
#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "varnel/host_control.h"

namespace varnel_test {

struct Event {
  std::wstring kind;  // "timer-start", "timer-stop", "log"
  std::wstring name;  // log source
  std::wstring text;  // log text
  int64_t number = 0; // period, log level
};

// Installs itself for its lifetime.
class RecordingObserver : public CORE::HostObserver {
 public:
  RecordingObserver() { CORE::setHostObserver(this); }
  ~RecordingObserver() override { CORE::setHostObserver(nullptr); }

  void onSysMessage(int level, const std::wstring& source, const std::wstring& text) override {
    add({L"log", source, text, level});
  }
  void onTimerStart(uint32_t periodMs) override { add({L"timer-start", L"", L"", periodMs}); }
  void onTimerStop() override { add({L"timer-stop", L"", L"", 0}); }

  std::vector<Event> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  void add(Event e) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(e));
  }

  mutable std::mutex mutex_;
  std::vector<Event> events_;
};

// A one-shot latch with a generous time-out, for handing control between threads.
class Signal {
 public:
  void set() {
    {
      std::lock_guard lock(mutex_);
      set_ = true;
    }
    cv_.notify_all();
  }
  bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return set_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool set_ = false;
};

}  // namespace varnel_test
