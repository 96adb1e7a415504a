// Test environment of the CPU and memory watch: a private registry root and a recorder of what
// the watch does through the host (log lines, broadcasts, registry writes, timer starts and
// help-desk messages).
#pragma once
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "varnel/host_control.h"
#include "varnel/varnel.h"

namespace watch_test {

// Points the file-backed registry at a fresh directory (once per test program, before anything
// reads the registry) and returns it.
inline const std::filesystem::path& temporaryRegistry() {
  static const std::filesystem::path root = [] {
    auto dir = std::filesystem::temp_directory_path() /
               ("statrix-watch-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir);
    setenv("VARNEL_REGISTRY", dir.c_str(), 1);
    return dir;
  }();
  return root;
}

struct Broadcast {
  std::wstring name1, name2;
  CORE::PropertyBag bag;
};
struct RegistryWrite {
  std::wstring path, value;
  uint32_t type;
};
struct Message {
  std::wstring worker, op;
  CORE::PropertyBag bag;
};

class Recorder : public CORE::HostObserver {
 public:
  Recorder() {
    current() = this;
    CORE::setHostObserver(this);
  }
  ~Recorder() override {
    CORE::setHostObserver(nullptr);
    current() = nullptr;
  }

  void onSysMessage(int level, const std::wstring&, const std::wstring& text) override {
    std::lock_guard<std::mutex> hold(mutex_);
    logs_.emplace_back(level, text);
  }
  void onBroadcast(const CORE::corestring& name1, const CORE::corestring& name2, const CORE::PropertyBag& bag) override {
    std::lock_guard<std::mutex> hold(mutex_);
    broadcasts_.push_back({name1.str(), name2.str(), bag});
  }
  void onRegistryWrite(const CORE::corestring& path, uint32_t type, const CORE::corestring& value, bool) override {
    std::lock_guard<std::mutex> hold(mutex_);
    writes_.push_back({path.str(), value.str(), type});
  }
  void onTimerStart(uint32_t periodMs) override {
    std::lock_guard<std::mutex> hold(mutex_);
    timerStarts_.push_back(periodMs);
  }
  // The sink of the stand-in help-desk worker.
  static void sink(const CORE::corestring& worker, const CORE::corestring& op, const CORE::PropertyBag& bag) {
    if (Recorder* r = current().load()) {
      std::lock_guard<std::mutex> hold(r->mutex_);
      r->messages_.push_back({worker.str(), op.str(), bag});
    }
  }

  void clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    logs_.clear();
    broadcasts_.clear();
    writes_.clear();
    timerStarts_.clear();
    messages_.clear();
  }
  size_t countLog(int level, const std::wstring& text) const {
    std::lock_guard<std::mutex> hold(mutex_);
    size_t n = 0;
    for (const auto& [l, t] : logs_) n += (l == level && t == text) ? 1 : 0;
    return n;
  }
  // Lines that start with `prefix`, at any level.
  size_t countLogPrefix(const std::wstring& prefix) const {
    std::lock_guard<std::mutex> hold(mutex_);
    size_t n = 0;
    for (const auto& line : logs_) n += line.second.starts_with(prefix) ? 1 : 0;
    return n;
  }
  std::vector<Broadcast> broadcasts() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return broadcasts_;
  }
  // Values written to the registry value whose path ends in `name`.
  std::vector<std::wstring> writesTo(const std::wstring& name) const {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<std::wstring> values;
    for (const RegistryWrite& w : writes_)
      if (w.path.ends_with(L"\\" + name)) values.push_back(w.value);
    return values;
  }
  size_t writeCount() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return writes_.size();
  }
  std::vector<uint32_t> timerStarts() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return timerStarts_;
  }
  std::vector<Message> messages() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return messages_;
  }

 private:
  static std::atomic<Recorder*>& current() {
    static std::atomic<Recorder*> instance{nullptr};
    return instance;
  }

  mutable std::mutex mutex_;
  std::vector<std::pair<int, std::wstring>> logs_;
  std::vector<Broadcast> broadcasts_;
  std::vector<RegistryWrite> writes_;
  std::vector<uint32_t> timerStarts_;
  std::vector<Message> messages_;
};

}  // namespace watch_test
