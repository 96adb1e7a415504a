// The module's plug-in hooks: the "perfmon" service comes up on the initialisation thread and
// goes down in PluginExit.
#include "frame/perfmon_plugin.h"

#include "service/service_slot.h"

void perfmonPlugin::initPlugin() {
  if (exiting()) return;
  RefPtr<statrix_service> created(new statrix_service(moduleHandle, copyParams()));
  publishService(std::move(created), [this] { return !exiting(); });
}

void perfmonPlugin::cleanupPlugin() {
  if (statrix_service* service = withdrawService()) service->unregisterAndRelease();
}
