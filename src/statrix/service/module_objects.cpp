// The module's static objects, defined in one place so that their order is fixed: built in
// this order at load, destroyed in reverse at unload (the thread group first, the plug-in last).
#include "frame/logger.h"
#include "service/perfmon_plugin.h"
#include "frame/thread_group.h"

namespace {
perfmonPlugin plugin;  // sets CORE::thePlugin
}  // namespace

CORE::corestring moduleName;

namespace CORE {
corelogger theLogger;
corerunnable_allThreadsGroup allThreadsGroup;
}  // namespace CORE
