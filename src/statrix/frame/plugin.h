// CORE::varnelPluginDll: the plug-in object behind the three exports, with its hooks.
#pragma once
#include <atomic>

#include "frame/host/host.h"

namespace CORE {

class varnelPluginDll : public coreref {
 public:
  varnelPluginDll();            // becomes thePlugin
  ~varnelPluginDll() override;  // thePlugin no longer points here

  // True: the plug-in initialised itself on the caller's thread and initSyncDone gives the
  // result. False (the base): initPlugin runs on "PluginInitThread".
  virtual bool initSync();
  virtual bool initSyncDone();
  virtual void initPlugin();
  virtual void cleanupPlugin();

  // Replaces the parameters (PluginParams); a copy for whoever reads them (the service).
  void setParams(const PropertyBag& bag);
  PropertyBag copyParams();

  // Between PluginExit's start and the next PluginInit: an initialisation thread that is late
  // must not bring the service up any more.
  bool exiting() const { return exiting_.load(); }
  void setExiting(bool value) { exiting_.store(value); }

  HMODULE moduleHandle = nullptr;

 private:
  // The host may hand over parameters on its thread while the initialisation thread copies
  // them; the lock keeps the bag whole. Taken alone, never with another lock.
  corecritsec paramsLock_;
  PropertyBag params_;
  std::atomic<bool> exiting_{false};
};

// The plug-in object every export reaches; set by the base constructor.
extern varnelPluginDll* thePlugin;

}  // namespace CORE
