// Module tests: a private registry root and a recorder of the module's host calls.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "varnel/host_control.h"
#include "varnel/varnel.h"

namespace watch_test {

// Points the file-backed registry at a fresh directory, once per test program, before anything
// reads the registry.
inline const std::filesystem::path& temporaryRegistry() {
  static const std::filesystem::path root = [] {
    auto dir = std::filesystem::temp_directory_path() /
               ("statrix-watch-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir);
    static std::string assignment;  // putenv keeps the pointer; portable to the Windows tree
    assignment = "VARNEL_REGISTRY=" + dir.string();
    putenv(assignment.data());
    return dir;
  }();
  return root;
}

// One thing the watch did: a log line (text, level), a broadcast (text = second name), a
// registry write (text = value name, value), a timer start (period) or a help-desk message.
struct Event {
  enum Kind { Log, Broadcast, RegWrite, TimerStart, Message } kind = Log;
  std::wstring text{};
  int level = 0;
  std::wstring value{};
  uint32_t period = 0;
  CORE::PropertyBag bag{};
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
    add({.kind = Event::Log, .text = text, .level = level});
  }
  void onBroadcast(const CORE::corestring&, const CORE::corestring& name2, const CORE::PropertyBag& bag) override {
    add({.kind = Event::Broadcast, .text = name2.str(), .bag = bag});
  }
  void onRegistryWrite(const CORE::corestring& path, uint32_t, const CORE::corestring& value, bool) override {
    add({.kind = Event::RegWrite, .text = path.substr(path.str().rfind(L'\\') + 1).str(), .value = value.str()});
  }
  void onTimerStart(uint32_t periodMs) override { add({.kind = Event::TimerStart, .period = periodMs}); }
  // The sink of the stand-in help-desk worker.
  static void sink(const CORE::corestring&, const CORE::corestring& op, const CORE::PropertyBag& bag) {
    if (Recorder* r = current().load()) r->add({.kind = Event::Message, .text = op.str(), .bag = bag});
  }

  void clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    events_.clear();
  }
  std::vector<Event> of(Event::Kind kind) const {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<Event> out;
    for (const Event& e : events_)
      if (e.kind == kind) out.push_back(e);
    return out;
  }
  // Events of the kind whose text starts with `prefix` (all of them for an empty prefix).
  size_t count(Event::Kind kind, const std::wstring& prefix = {}) const {
    size_t n = 0;
    for (const Event& e : of(kind)) n += e.text.starts_with(prefix) ? 1 : 0;
    return n;
  }
  // Log texts at `level` or above, in order.
  std::vector<std::wstring> lines(int level = 2) const {
    std::vector<std::wstring> out;
    for (const Event& e : of(Event::Log))
      if (e.level >= level) out.push_back(e.text);
    return out;
  }
  std::vector<Event> broadcasts() const { return of(Event::Broadcast); }
  // Values written to the registry value `name`, in order.
  std::vector<std::wstring> writes(const std::wstring& name) const {
    std::vector<std::wstring> values;
    for (const Event& e : of(Event::RegWrite))
      if (e.text == name) values.push_back(e.value);
    return values;
  }
  std::vector<uint32_t> periods() const {
    std::vector<uint32_t> out;
    for (const Event& e : of(Event::TimerStart)) out.push_back(e.period);
    return out;
  }

 private:
  void add(Event e) {
    std::lock_guard<std::mutex> hold(mutex_);
    events_.push_back(std::move(e));
  }
  static std::atomic<Recorder*>& current() {
    static std::atomic<Recorder*> instance{nullptr};
    return instance;
  }

  mutable std::mutex mutex_;
  std::vector<Event> events_;
};

}  // namespace watch_test
