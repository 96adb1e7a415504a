// The plug-in exports and the library entry point. Exceptions stop here: none unwinds into
// the host.
#include "frame/exports.h"

#include "frame/log.h"
#include "frame/plugin.h"
#include "frame/runnable.h"
#include "frame/thread_group.h"

namespace {

void initPluginThread(void* plugin) { static_cast<CORE::varnelPluginDll*>(plugin)->initPlugin(); }

}  // namespace

bool PluginInit() {
  CORE::varnelPluginDll* plugin = CORE::thePlugin;
  if (plugin == nullptr) return false;
  try {
    plugin->setExiting(false);
    if (plugin->initSync()) return plugin->initSyncDone();
    return CORE::corerun::startThread("PluginInitThread", &initPluginThread, plugin, nullptr, nullptr, 0);
  } catch (const CORE::coreException& e) {
    LogMessage(CORE::Error, L"varnelPluginDll exception during init, error %s", CORE::corestring(e));
  } catch (...) {
    LogMessage(CORE::Error, L"varnelPluginDll exception during init");
  }
  return true;
}

void PluginExit() {
  if (CORE::varnelPluginDll* plugin = CORE::thePlugin) {
    // A late initialisation thread must not bring the service up behind our back.
    plugin->setExiting(true);
    try {
      plugin->cleanupPlugin();
    } catch (const CORE::coreException& e) {
      LogMessage(CORE::Error, L"varnelPluginDll exception during cleanup, error %s", CORE::corestring(e));
    } catch (...) {
      LogMessage(CORE::Error, L"varnelPluginDll exception during cleanup");
    }
  }
  LogMessage(CORE::Trace, L"varnelPluginDll wait for threads to go");
  CORE::waitForAllThreads(INFINITE);
  LogMessage(CORE::Trace, L"varnelPluginDll: all threads gone");
}

bool PluginParams(CORE::PropertyBag* params) {
  try {
    if (params != nullptr && CORE::thePlugin != nullptr) CORE::thePlugin->setParams(*params);
  } catch (...) {
    // Out of memory while copying: the previous parameters stay.
  }
  return true;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  try {
    DisableThreadLibraryCalls(instance);
    if (CORE::thePlugin != nullptr) CORE::thePlugin->moduleHandle = instance;
    moduleName = CORE::corestring::getModuleName(instance).lastPath().dropSuffix();
    CORE::sysmsgLogLoaded(instance, false);
  } catch (...) {
    // Attaching always succeeds; a missing name only leaves log lines without a source.
  }
  return TRUE;
}
