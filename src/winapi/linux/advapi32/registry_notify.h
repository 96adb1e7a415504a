// Change notification for registry keys (RegNotifyChangeKeyValue): one inotify thread for the
// process; registrations are one-shot, as on Windows, and share the watch of their directory.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "kernelbase/event_object.h"

namespace winapi_linux::registry_notify {

// Sets `event` once at the next change in `dir` (below it too with `subtree`) that `filter`
// selects: REG_NOTIFY_CHANGE_LAST_SET for values written, renamed into place or deleted,
// REG_NOTIFY_CHANGE_NAME for subkeys created or deleted. The registration then ends. `key` names
// the open key it belongs to (0 for none), for drop.
LONG watch(uint64_t key, const std::string& dir, bool subtree, DWORD filter, std::shared_ptr<EventObject> event);
// Ends the registrations of a key without setting their events (the key was closed).
void drop(uint64_t key);

}  // namespace winapi_linux::registry_notify
