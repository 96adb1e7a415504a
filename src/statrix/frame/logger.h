// CORE::corelogger: the thread layer's logger, forwarding to the host's external log function.
#pragma once
#include "frame/log.h"

namespace CORE {

class corelogger : public coreref {
 public:
  // Levels handed to the external log function.
  enum logLevel : int { levelError = 1, levelTrace = 4 };

  // Passes one line to CORE::corelogExternal when logging is enabled and the host installed
  // the function; a null or empty component is reported as moduleName.
  template <class... A>
  void log(const wchar_t* component, int level, wformat<A...> format, const A&... args) {
    const corelogExternalFn sink = corelogExternal;  // the host may swap it at any time
    if (!enabled || sink == nullptr) return;
    const FormatArg list[sizeof...(A) + 1] = {FormatArg(args)..., FormatArg()};
    const wchar_t* source = (component == nullptr || *component == 0) ? moduleName.c_str() : component;
    sink(source, level, format.str, list, sizeof...(A));
  }
  template <class... A>
  void logError(wformat<A...> format, const A&... args) {
    log(nullptr, levelError, format, args...);
  }
  template <class... A>
  void logTrace(wformat<A...> format, const A&... args) {
    log(moduleName.c_str(), levelTrace, format, args...);
  }

  // Set at construction and never cleared by the module.
  bool enabled = true;
};

// The module's one logger (a static object constructed at load).
extern corelogger theLogger;

}  // namespace CORE
