// One sysconfig bound to its registry key: the key and its change event, what the last scan
// saw, the settings `get` answers from, and the delivery of changes to `changed`.
#pragma once
#include <atomic>
#include <mutex>
#include <thread>

#include "config_key.h"
#include "varnel/sysconfig.h"
#include "winapi.h"

namespace CORE {

// Lock order: deliveryMutex, then the owner's settings lock (`changed` overrides take it while
// a scan delivers); the watcher's lock is never held while a scan runs. Never call cleanup
// while holding the settings lock.
struct sysconfig::Binding {
  Binding(sysconfig* owner, corestring keyPath, corestrmap defaults);
  ~Binding();
  Binding(const Binding&) = delete;
  Binding& operator=(const Binding&) = delete;

  // Asks for one signal of `event` at the next change of the key's values. A registration
  // ends with the thread that made it (on Windows), so the watcher re-arms on its own thread.
  bool arm();
  // Reads the key and calls `changed` once for each value whose text (or, once deleted, its
  // default) differs from what the last scan saw. Scans of one binding are serialised: a
  // change is delivered once, by whichever thread notices it first. From inside `changed` of
  // this binding it only asks the running scan to look again.
  void rescan();
  // No `changed` starts afterwards; waits for a running one unless called from inside it.
  void deactivate();

  // The text `get` gives for a name absent from `registry`: its default, else empty.
  corestring fallback(const corestring& name) const;

  sysconfig* const owner;
  const corestring keyPath;
  const corestrmap defaults;
  config::ConfigKey key;
  HANDLE event = nullptr;  // signalled by the registry; owned

  // What `get` answers: the texts delivered through the base `changed`, else read at bind
  // time. Guarded by the owner's settings lock.
  corestrmap settings;

  // The registry contents as the last scan saw them. Guarded by deliveryMutex (written once
  // by init before the binding is shared).
  corestrmap seen;

 private:
  void deliver(const corestring& name, const corestring& value);

  std::mutex deliveryMutex;
  bool rescanAgain = false;                  // a nested rescan asked for another look
  std::atomic<std::thread::id> deliverer{};  // the thread running a scan, if any
  std::atomic<bool> active{true};
};

}  // namespace CORE
