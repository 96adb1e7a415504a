// Log lines of the framework runtime itself (timers, configuration, workers, threads).
#pragma once
#include <utility>

#include "varnel/logging.h"

namespace CORE::runtime {

// One system message from the source "varnel", format checked against the arguments.
template <class... A>
void log(int level, wformat<A...> format, const A&... args) {
  const FormatArg list[sizeof...(A) + 1] = {FormatArg(args)..., FormatArg()};
  __SysMessage(level, L"varnel", format.str, list, sizeof...(A), nullptr, nullptr);
}

}  // namespace CORE::runtime
