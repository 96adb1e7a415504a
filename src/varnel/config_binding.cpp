// Scanning a bound key and delivering each change exactly once to the owner's `changed`.
#include "config_binding.h"

#include <exception>
#include <utility>
#include <vector>

#include "runtime_log.h"

namespace CORE {

sysconfig::Binding::Binding(sysconfig* owner_, corestring keyPath_, corestrmap defaults_)
    : owner(owner_), keyPath(std::move(keyPath_)), defaults(std::move(defaults_)) {
  event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

sysconfig::Binding::~Binding() {
  if (event) CloseHandle(event);
}

bool sysconfig::Binding::arm() {
  if (!key.isOpen() || !event) return false;
  return RegNotifyChangeKeyValue(key.get(), FALSE, REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME, event,
                                 TRUE) == ERROR_SUCCESS;
}

corestring sysconfig::Binding::fallback(const corestring& name) const {
  auto it = defaults.find(name);
  return it == defaults.end() ? corestring() : it->second;
}

void sysconfig::Binding::rescan() {
  const std::thread::id self = std::this_thread::get_id();
  if (deliverer.load() == self) {
    rescanAgain = true;  // only this thread touches it while it delivers
    return;
  }
  std::lock_guard lock(deliveryMutex);
  if (!active.load()) return;
  deliverer.store(self);
  do {
    rescanAgain = false;
    corestrmap now;
    if (!key.readAll(now)) break;  // unreadable for now: report nothing rather than deletions
    std::vector<std::pair<corestring, corestring>> changes;
    for (const auto& [name, text] : now) {
      auto before = seen.find(name);
      if (before == seen.end() ? text != fallback(name) : text != before->second) changes.emplace_back(name, text);
    }
    for (const auto& [name, text] : seen) {
      if (now.contains(name)) continue;
      // The read goes by index, so a value deleted during it hides the one after it: a value
      // missing from the read is asked for by name before it is reported gone.
      if (corestring still; key.readOne(name, still)) {
        if (still != text) changes.emplace_back(name, still);
        now[name] = std::move(still);
        continue;
      }
      corestring after = fallback(name);
      if (after != text) changes.emplace_back(name, std::move(after));
    }
    seen = std::move(now);
    for (const auto& [name, value] : changes) {
      if (!active.load()) break;
      deliver(name, value);
    }
  } while (rescanAgain && active.load());
  deliverer.store(std::thread::id());
}

void sysconfig::Binding::deliver(const corestring& name, const corestring& value) {
  corestring text = value;  // `changed` may modify its argument
  try {
    owner->changed(name, text);
  } catch (const std::exception& e) {
    runtime::log(Error, L"configuration %s: change of %s ended by exception: %s", keyPath, name,
                 corestring::fromUtf8(e.what()));
  } catch (...) {
    runtime::log(Error, L"configuration %s: change of %s ended by an unknown exception", keyPath, name);
  }
}

void sysconfig::Binding::deactivate() {
  active.store(false);
  if (deliverer.load() == std::this_thread::get_id()) return;  // from inside `changed`
  std::lock_guard wait(deliveryMutex);
}

}  // namespace CORE
