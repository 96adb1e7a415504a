// The module's plug-in hooks: the "perfmon" service comes up on the initialisation thread and
// goes down in PluginExit.
#include "service/perfmon_plugin.h"

#include "service/service_slot.h"

void perfmonPlugin::initPlugin() {
  // Nothing to do once the exit has begun, nor when a service is already up (a repeated
  // PluginInit): a second service would share, and on its destruction reset, the watch.
  if (exiting() || hasService()) return;
  RefPtr<statrix_service> created(new statrix_service(moduleHandle, copyParams()));
  publishService(std::move(created), [this] { return !exiting(); });
}

void perfmonPlugin::cleanupPlugin() {
  if (statrix_service* service = withdrawService()) service->unregisterAndRelease();
}
