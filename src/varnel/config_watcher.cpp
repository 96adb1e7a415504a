// The configuration watcher thread: waits on every bound key's change event plus a wake-up
// event; when a key's event fires it re-arms the notification first (so that no later change
// is missed) and then rescans the key, delivering the changes.
#include "config_watcher.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "runtime_log.h"

namespace CORE::config {
namespace {

// A wait covers at most 64 handles; one is the wake-up event.
constexpr size_t kMaxWaitHandles = 64;

}  // namespace

// One life of the watcher thread, from the first binding to the last.
struct ConfigWatcher::Run {
  Run() : wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~Run() {
    if (thread.joinable()) thread.detach();  // only when it ended on its own (see remove)
    if (wake) CloseHandle(wake);
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  HANDLE wake;
  std::thread thread;
  bool stop = false;  // guarded by the watcher's lock
  bool warnedFull = false;  // guarded by the watcher's lock
  bool warnedWait = false;  // the thread's own
};

ConfigWatcher& ConfigWatcher::instance() {
  static ConfigWatcher* const watcher = new ConfigWatcher;  // lives as long as the process
  return *watcher;
}

void ConfigWatcher::add(const BindingPtr& binding) {
  std::lock_guard lock(mutex_);
  entries_.push_back({binding, false});
  if (!run_) {
    auto run = std::make_shared<Run>();
    if (!run->wake) {
      runtime::log(Error, L"configuration watcher: no wake-up event (error %u); %s is not watched",
                   static_cast<uint32_t>(GetLastError()), binding->keyPath);
      return;
    }
    try {
      run->thread = std::thread(&ConfigWatcher::loop, this, run);
    } catch (const std::system_error& e) {
      runtime::log(Error, L"configuration watcher could not start: %s", corestring::fromUtf8(e.what()));
      return;
    }
    run_ = std::move(run);
  }
  SetEvent(run_->wake);
}

void ConfigWatcher::remove(const BindingPtr& binding) {
  std::shared_ptr<Run> ending;
  {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [&](const Entry& e) { return e.binding == binding; });
    if (!run_) return;
    if (entries_.empty()) {
      ending = std::move(run_);
      ending->stop = true;
    }
    SetEvent(ending ? ending->wake : run_->wake);  // the thread drops its references to the binding
  }
  if (!ending) return;
  if (ending->thread.get_id() == std::this_thread::get_id()) {
    ending->thread.detach();  // cleanup from inside `changed`: the loop ends when it returns
  } else {
    ending->thread.join();
  }
}

std::vector<BindingPtr> ConfigWatcher::bindings() {
  std::lock_guard lock(mutex_);
  std::vector<BindingPtr> all;
  all.reserve(entries_.size());
  for (const Entry& e : entries_) all.push_back(e.binding);
  return all;
}

void ConfigWatcher::loop(std::shared_ptr<Run> keep) {
  std::vector<BindingPtr> watched;  // keeps the waited-on events open during the wait
  std::vector<HANDLE> handles;
  std::vector<BindingPtr> fresh;    // armed on this thread just now
  for (;;) {
    fresh.clear();
    corestring unwatched;  // the first key that did not fit, told once (outside the lock)
    {
      std::lock_guard lock(mutex_);
      if (keep->stop) break;
      watched.clear();
      handles.assign(1, keep->wake);
      for (Entry& e : entries_) {
        if (handles.size() == kMaxWaitHandles) {
          if (!keep->warnedFull) unwatched = e.binding->keyPath;
          keep->warnedFull = true;
          break;
        }
        if (!e.armedHere && (e.armedHere = e.binding->arm())) fresh.push_back(e.binding);
        watched.push_back(e.binding);
        handles.push_back(e.binding->event);
      }
    }
    if (!unwatched.empty()) {
      runtime::log(Warn, L"configuration watcher: more than %u keys bound; %s and later ones are not watched",
                   static_cast<uint32_t>(kMaxWaitHandles - 1), unwatched);
    }
    // Arming may reset the event (it does on some systems), swallowing a change signalled
    // just before: every arm is followed by a scan.
    for (const BindingPtr& binding : fresh) binding->rescan();
    const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) continue;  // bindings came or went
    if (result > WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + handles.size()) {
      const BindingPtr& binding = watched[result - WAIT_OBJECT_0 - 1];
      bool stillBound = false;
      {
        std::lock_guard lock(mutex_);
        for (Entry& e : entries_) {
          if (e.binding != binding) continue;
          e.armedHere = binding->arm();  // re-arm first: a change during the scan fires again
          stillBound = true;
        }
      }
      if (stillBound) binding->rescan();
      continue;
    }
    // A failed wait (a handle went bad): look again shortly rather than spin; say so once.
    if (!keep->warnedWait) {
      runtime::log(Warn, L"configuration watcher: wait failed (error %u)", static_cast<uint32_t>(GetLastError()));
      keep->warnedWait = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

}  // namespace CORE::config
