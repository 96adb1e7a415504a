// The process-wide configuration watcher: one thread that waits on the change events of every
// bound key and rescans a key when its event fires.
#pragma once
#include <memory>
#include <mutex>
#include <vector>

#include "config_binding.h"

namespace CORE::config {

using BindingPtr = std::shared_ptr<sysconfig::Binding>;

class ConfigWatcher {
 public:
  static ConfigWatcher& instance();

  // Starts watching the binding (its thread starts with the first binding).
  void add(const BindingPtr& binding);
  // Stops watching it. The thread ends with the last binding; it is joined unless this is
  // that thread (cleanup from inside `changed`), which then ends on its own.
  void remove(const BindingPtr& binding);
  // Every binding being watched, for a synchronous rescan.
  std::vector<BindingPtr> bindings();

 private:
  struct Run;
  struct Entry {
    BindingPtr binding;
    bool armedHere = false;  // armed by the watcher thread itself
  };
  ConfigWatcher() = default;
  void loop(std::shared_ptr<Run> run);

  // The watcher's lock: guards entries_ and run_. A leaf: never held while a scan runs, so
  // never while `changed` runs.
  std::mutex mutex_;
  std::vector<Entry> entries_;
  std::shared_ptr<Run> run_;  // the thread's current life, while there are bindings
};

}  // namespace CORE::config
