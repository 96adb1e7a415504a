// Test environment for the frame and service tests: a private registry root and a recorder of
// every log line the module writes (system messages and the thread layer's external log).
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

// Points the file-backed registry at a fresh directory; call before anything reads the
// registry. (The Windows build uses the system registry and ignores it.)
inline void useTemporaryRegistry() {
  static std::string assignment;
  const auto root = std::filesystem::temp_directory_path() /
                    ("statrix-test-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(root);
  assignment = "VARNEL_REGISTRY=" + root.string();
  putenv(assignment.data());
}

struct LogLine {
  bool external = false;  // true: the thread layer's logger; false: a system message
  int level = 0;          // SysMessageType, or the logger's logLevel
  std::wstring source;    // source name, or component
  std::wstring text;
};

// Records every line; install one per test (it replaces the host observer and the external
// log function, and puts both back when destroyed).
class LogRecorder : public CORE::HostObserver {
 public:
  LogRecorder() {
    std::lock_guard<std::mutex> guard(instanceMutex());
    current() = this;
    previousExternal_ = CORE::corelogExternal;
    CORE::corelogExternal = &LogRecorder::external;
    CORE::setHostObserver(this);
  }
  ~LogRecorder() override {
    CORE::setHostObserver(nullptr);
    CORE::corelogExternal = previousExternal_;
    std::lock_guard<std::mutex> guard(instanceMutex());
    current() = nullptr;
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
  size_t count(const std::function<bool(const LogLine&)>& match) const {
    size_t n = 0;
    for (const LogLine& line : lines()) n += match(line) ? 1 : 0;
    return n;
  }
  size_t countText(const std::wstring& text) const {
    return count([&](const LogLine& l) { return l.text == text; });
  }
  // Waits until a line matches; false when `timeout` passes first.
  bool waitFor(const std::function<bool(const LogLine&)>& match,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
      for (const LogLine& line : lines_)
        if (match(line)) return true;
      return false;
    });
  }
  bool waitForText(const std::wstring& text, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    return waitFor([&](const LogLine& l) { return l.text == text; }, timeout);
  }
  void clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.clear();
  }

 private:
  static std::mutex& instanceMutex() {
    static std::mutex m;
    return m;
  }
  static LogRecorder*& current() {
    static LogRecorder* r = nullptr;
    return r;
  }
  static void external(const wchar_t* component, int logLevel, const wchar_t* format, const CORE::FormatArg* args,
                       size_t count) {
    std::lock_guard<std::mutex> guard(instanceMutex());
    if (current() != nullptr)
      current()->add({true, logLevel, component ? component : L"", CORE::formatMessage(format, args, count)});
  }
  void add(LogLine line) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      lines_.push_back(std::move(line));
    }
    changed_.notify_all();
  }

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<LogLine> lines_;
  CORE::corelogExternalFn previousExternal_ = nullptr;
};

// A one-shot gate a test thread can wait on.
class Gate {
 public:
  void open() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      open_ = true;
    }
    cv_.notify_all();
  }
  bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return open_; });
  }
  bool isOpen() {
    std::lock_guard<std::mutex> guard(mutex_);
    return open_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

}  // namespace frame_test
