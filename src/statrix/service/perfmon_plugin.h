// perfmonPlugin: the module's plug-in object; brings the "perfmon" service up and down.
#pragma once
#include "frame/plugin.h"

class perfmonPlugin : public CORE::varnelPluginDll {
 public:
  // On "PluginInitThread": creates the service and registers it as "perfmon".
  void initPlugin() override;
  // Removes the worker and releases the plug-in's reference on the service.
  void cleanupPlugin() override;
};
