// The slot holding theService: the plug-in fills and empties it, the operation factory takes
// references from it. One lock makes "read the pointer, AddRef" safe against the release that
// takes the service down.
#pragma once
#include <functional>

#include "service/service_globals.h"
#include "service/statrix_service.h"

// Stores `created` (taking over its reference) as theService and registers it as "perfmon",
// unless `stillWanted` says no under the slot's lock or a service is already in place; then
// the new service is released instead.
// Lock order: the slot's lock is taken first; the framework's worker registration runs under
// it, and nothing of this module locks the slot while holding another lock.
void publishService(RefPtr<statrix_service> created, const std::function<bool()>& stillWanted);
// theService with a new reference for the caller, or null when there is none.
statrix_service* acquireService();
// Whether a service is in place.
bool hasService();
// Empties the slot; the caller takes over the plug-in's reference (null when empty).
statrix_service* withdrawService();
