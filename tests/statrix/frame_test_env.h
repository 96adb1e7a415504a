// Test environment for the frame and service tests: a private registry root, a recorder of the
// module's log lines, and a gate threads can wait on.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "varnel/host_control.h"
#include "varnel/varnel.h"

namespace frame_test {

// Points the file-backed registry at a fresh directory (the Windows build ignores it).
inline void useTemporaryRegistry() {
  static std::string assignment;
  const auto root = std::filesystem::temp_directory_path() /
                    ("statrix-test-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(root);
  assignment = "VARNEL_REGISTRY=" + root.string();
  putenv(assignment.data());
}

struct LogLine {
  bool external;       // the thread layer's logger rather than a system message
  int level;           // SysMessageType, or the logger's logLevel
  std::wstring source;  // source name or component ("loaded" for the library-loaded notice)
  std::wstring text;
};
using Match = std::function<bool(const LogLine&)>;

// Records every line while it lives; it takes over the host observer and the external log
// function and puts the latter back.
class LogRecorder : public CORE::HostObserver {
 public:
  LogRecorder() : previous_(CORE::corelogExternal) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      active() = this;
    }
    CORE::corelogExternal = &LogRecorder::external;
    CORE::setHostObserver(this);
  }
  ~LogRecorder() override {
    CORE::setHostObserver(nullptr);
    CORE::corelogExternal = previous_;
    std::lock_guard<std::mutex> guard(mutex_);
    active() = nullptr;
  }
  void onSysMessage(int level, const std::wstring& source, const std::wstring& text) override {
    add({false, level, source, text});
  }
  void onLoaded(const std::wstring& name) override { add({false, -1, L"loaded", name}); }

  std::vector<LogLine> lines() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_;
  }
  std::vector<std::wstring> texts() const {
    std::vector<std::wstring> out;
    for (const LogLine& line : lines()) out.push_back(line.text);
    return out;
  }
  size_t count(const Match& match) const {
    size_t n = 0;
    for (const LogLine& line : lines()) n += match(line);
    return n;
  }
  size_t count(const std::wstring& text) const {
    return count([&](const LogLine& l) { return l.text == text; });
  }
  bool waitFor(const Match& match) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] {
      for (const LogLine& line : lines_)
        if (match(line)) return true;
      return false;
    });
  }
  bool waitFor(const std::wstring& text) const {
    return waitFor([&](const LogLine& l) { return l.text == text; });
  }

 private:
  // One recorder at a time; the mutex is static so the external function can reach it.
  static inline std::mutex mutex_;
  static LogRecorder*& active() {
    static LogRecorder* recorder = nullptr;
    return recorder;
  }
  static void external(const wchar_t* component, int level, const wchar_t* format, const CORE::FormatArg* args,
                       size_t count) {
    LogLine line{true, level, component ? component : L"", CORE::formatMessage(format, args, count)};
    std::lock_guard<std::mutex> guard(mutex_);
    if (LogRecorder* r = active()) {
      r->lines_.push_back(std::move(line));
      r->changed_.notify_all();
    }
  }
  void add(LogLine line) {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.push_back(std::move(line));
    changed_.notify_all();
  }

  mutable std::condition_variable changed_;
  std::vector<LogLine> lines_;
  CORE::corelogExternalFn previous_;
};

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
