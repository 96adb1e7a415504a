// LogMessage: every module log line goes to the host's system-message sink under moduleName.
// The format is checked against the arguments at compile time; arguments travel typed.
#pragma once
#include "frame/host/host.h"

// The library's file name without directory and extension; set at process attach.
extern CORE::corestring moduleName;

template <class... A>
void LogMessage(CORE::SysMessageType level, CORE::wformat<A...> format, const A&... args) {
  const CORE::FormatArg list[sizeof...(A) + 1] = {CORE::FormatArg(args)..., CORE::FormatArg()};
  CORE::__SysMessage(level, moduleName.c_str(), format.str, list, sizeof...(A), nullptr, nullptr);
}
