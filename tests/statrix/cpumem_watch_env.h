// Module tests: a private registry root, a recorder of the module's host calls, a gate threads
// can wait on, and a fixture for the watch.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "cpumem/perfmon_scheduler.h"
#include "cpumem/watch_state.h"
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

// One thing the module did: a log line (text, level), a line of the thread layer's logger
// (External: text, level), the library-loaded notice (Loaded), a
// broadcast (text = second name), a registry write (text = value name, value), a timer start
// (period) or a help-desk message.
struct Event {
  enum Kind { Log, External, Loaded, Broadcast, RegWrite, TimerStart, Message } kind = Log;
  std::wstring text{};
  int level = 0;
  std::wstring value{};
  uint32_t period = 0;
  CORE::PropertyBag bag{};
};
using Match = std::function<bool(const Event&)>;

// Records what the module tells its host while it lives: it takes over the host observer and
// the thread layer's log function, and puts the latter back. One recorder at a time.
class Recorder : public CORE::HostObserver {
 public:
  Recorder() : previous_(CORE::corelogExternal) {
    makeCurrent(this);
    CORE::corelogExternal = &Recorder::external;
    CORE::setHostObserver(this);
  }
  ~Recorder() override {
    CORE::setHostObserver(nullptr);
    CORE::corelogExternal = previous_;
    makeCurrent(nullptr);
  }

  void onSysMessage(int level, const std::wstring&, const std::wstring& text) override {
    add({.kind = Event::Log, .text = text, .level = level});
  }
  void onLoaded(const std::wstring& name) override { add({.kind = Event::Loaded, .text = name, .level = -1}); }
  void onBroadcast(const CORE::corestring&, const CORE::corestring& name2, const CORE::PropertyBag& bag) override {
    add({.kind = Event::Broadcast, .text = name2.str(), .bag = bag});
  }
  void onRegistryWrite(const CORE::corestring& path, uint32_t, const CORE::corestring& value, bool) override {
    add({.kind = Event::RegWrite, .text = path.substr(path.str().rfind(L'\\') + 1).str(), .value = value.str()});
  }
  void onTimerStart(uint32_t periodMs) override { add({.kind = Event::TimerStart, .period = periodMs}); }
  // The sink of the stand-in help-desk worker.
  static void sink(const CORE::corestring&, const CORE::corestring& op, const CORE::PropertyBag& bag) {
    add({.kind = Event::Message, .text = op.str(), .bag = bag});
  }

  void clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    events_.clear();
  }
  std::vector<Event> of(Event::Kind kind) const {
    return select([&](const Event& e) { return e.kind == kind; });
  }
  // Events of the kind whose text starts with `prefix` (all of them for an empty prefix).
  size_t count(Event::Kind kind, const std::wstring& prefix = {}) const {
    return std::ranges::count_if(of(kind), [&](const Event& e) { return e.text.starts_with(prefix); });
  }
  // Log lines, logger lines and loaded notices, in order.
  std::vector<Event> logged() const { return select(isLogged); }
  std::vector<std::wstring> texts() const { return field(logged(), &Event::text); }
  size_t count(const Match& match) const { return std::ranges::count_if(logged(), match); }
  size_t count(const std::wstring& text) const {
    return count([&](const Event& e) { return e.text == text; });
  }
  // Waits up to 20 s for a logged line that matches.
  bool waitFor(const Match& match) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] {
      return std::ranges::any_of(events_, [&](const Event& e) { return isLogged(e) && match(e); });
    });
  }
  bool waitFor(const std::wstring& text) const {
    return waitFor([&](const Event& e) { return e.text == text; });
  }
  // Log texts at `level` or above, in order.
  std::vector<std::wstring> lines(int level = 2) const {
    return field(select([&](const Event& e) { return e.kind == Event::Log && e.level >= level; }), &Event::text);
  }
  // Values written to the registry value `name`, in order.
  std::vector<std::wstring> writes(const std::wstring& name) const {
    return field(select([&](const Event& e) { return e.kind == Event::RegWrite && e.text == name; }), &Event::value);
  }
  std::vector<uint32_t> periods() const { return field(of(Event::TimerStart), &Event::period); }

 private:
  std::vector<Event> select(const Match& keep) const {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<Event> out;
    for (const Event& e : events_)
      if (keep(e)) out.push_back(e);
    return out;
  }
  // One field of each event.
  template <typename T>
  static std::vector<T> field(const std::vector<Event>& events, T Event::*member) {
    std::vector<T> out;
    for (const Event& e : events) out.push_back(e.*member);
    return out;
  }
  static bool isLogged(const Event& e) {
    return e.kind == Event::Log || e.kind == Event::External || e.kind == Event::Loaded;
  }
  static void external(const wchar_t*, int level, const wchar_t* format, const CORE::FormatArg* args, size_t count) {
    add({.kind = Event::External, .text = CORE::formatMessage(format, args, count), .level = level});
  }
  // Every event goes to the current recorder. The mutex and the pointer are static so that the
  // static entry points reach it safely.
  static void add(Event e) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (current_ == nullptr) return;
    current_->events_.push_back(std::move(e));
    current_->changed_.notify_all();
  }
  static void makeCurrent(Recorder* recorder) {
    std::lock_guard<std::mutex> hold(mutex_);
    current_ = recorder;
  }

  static inline std::mutex mutex_;
  static inline Recorder* current_ = nullptr;
  mutable std::condition_variable changed_;
  std::vector<Event> events_;
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

// The watch under manual timers, with no alarm setting left from an earlier test and the
// stand-in help-desk worker; startWatch() starts it (once the test's procfs tree is active)
// and the test's end stops it.
class WatchFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    temporaryRegistry();
    CORE::setManualTimers(true);
  }
  void SetUp() override {
    std::filesystem::remove_all(temporaryRegistry() / "HKLM/Software/Vantrel/Orvane/Performance Alarms");
    ASSERT_TRUE(CORE::installSinkWorker(L"AgentHelpDesk", &Recorder::sink));
  }
  void TearDown() override {
    if (watch_ != nullptr) {
      watch_->stop();
      watch_->Release();
    }
    WatchState::setWalkHookForTesting(nullptr);
    CORE::removeSinkWorker(L"AgentHelpDesk");
  }

  static void setSetting(const std::wstring& name, const wchar_t* text) {
    ASSERT_TRUE(CORE::registryWrite(L"HKLM\\Software\\Vantrel\\Orvane\\Performance Alarms\\" + name, {1, text, {}}));
  }
  // A setting changed while the watch runs, delivered before this returns.
  static void changeSetting(const std::wstring& name, const wchar_t* text) {
    setSetting(name, text);
    CORE::syncConfiguration();
  }
  void startWatch() {
    recorder_.clear();
    watch_ = new PerfmonScheduler();
    watch_->start();
  }
  // One pass; true when it ran and succeeded.
  bool tick() { return CORE::tickTimers() == std::vector<bool>{true}; }

  Recorder recorder_;
  PerfmonScheduler* watch_ = nullptr;
  WatchState& state_ = WatchState::instance();
};

}  // namespace watch_test
