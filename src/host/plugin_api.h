// The plug-in's three exports and the once-only shut-down the runner needs around them.
#pragma once
#include "varnel/propertybag.h"

namespace vhost {

struct PluginApi {
  using InitFn = bool (*)();
  using ExitFn = void (*)();
  using ParamsFn = bool (*)(CORE::PropertyBag*);
  InitFn init = nullptr;
  ExitFn exit = nullptr;
  ParamsFn params = nullptr;
};

// The exports as the runner calls them: PluginExit runs at most once, whether a script asked
// for it or the runner is shutting down.
class PluginCalls {
 public:
  explicit PluginCalls(const PluginApi& api) : api_(api) {}

  bool params(CORE::PropertyBag* bag) { return api_.params(bag); }
  bool init() { return api_.init(); }
  // Calls PluginExit unless that happened already; true when this call made it.
  bool exitOnce() {
    if (exited_) return false;
    exited_ = true;
    api_.exit();
    return true;
  }
  bool exited() const { return exited_; }

 private:
  PluginApi api_;
  bool exited_ = false;
};

}  // namespace vhost
