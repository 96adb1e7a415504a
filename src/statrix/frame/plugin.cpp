// The plug-in base: registration as thePlugin, default hooks and the parameter bag.
#include "frame/plugin.h"

namespace CORE {

varnelPluginDll* thePlugin = nullptr;

varnelPluginDll::varnelPluginDll() { thePlugin = this; }

varnelPluginDll::~varnelPluginDll() {
  if (thePlugin == this) thePlugin = nullptr;
}

bool varnelPluginDll::initSync() { return false; }
bool varnelPluginDll::initSyncDone() { return true; }
void varnelPluginDll::initPlugin() {}
void varnelPluginDll::cleanupPlugin() {}

void varnelPluginDll::setParams(const PropertyBag& bag) {
  coresync sync(paramsLock_, false);
  params_ = bag;
}

PropertyBag varnelPluginDll::copyParams() {
  coresync sync(paramsLock_, false);
  return params_;
}

}  // namespace CORE
