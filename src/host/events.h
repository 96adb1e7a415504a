// The events varnel-host reports, built as JSON objects with their fields in a fixed order.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json_fwd.h"
#include "varnel/host_control.h"
#include "varnel/propertybag.h"

namespace vhost::events {

// Things the framework does on the plug-in's behalf.
Json sysLog(int level, std::wstring_view source, std::wstring_view text);
Json externalLog(std::wstring_view component, int logLevel, std::wstring_view text);
Json loaded(std::wstring_view module);
Json broadcast(const CORE::corestring& name1, const CORE::corestring& name2, const CORE::PropertyBag& bag);
Json message(const CORE::corestring& worker, const CORE::corestring& op, const CORE::PropertyBag& bag);
// `value` as the framework hands it over: DWORD as decimal text, MULTI_SZ items separated by NULs.
Json regwrite(const CORE::corestring& path, uint32_t type, const CORE::corestring& value, bool ok);
Json timerStart(uint32_t periodMs);
Json timerStop();
Json workerChanged(const CORE::corestring& name, bool added);

// Answers to script commands.
// `result` empty: the worker is not installed.
Json reply(const std::string& op, std::optional<bool> result, const CORE::PropertyBag& replyBag);
// One result per started timer; null without timers, else true only if every callback was.
Json ticked(const std::vector<bool>& results);
Json regset(const std::string& path);
Json registry(const std::string& path, const std::optional<CORE::RegistryValue>& value);
Json workerState(const std::string& name, bool installed);
Json params(bool result);
Json exited();
Json error(size_t line, const std::string& text);

// Registry type names as scripts and events write them ("sz", "dword", "multi_sz",
// "expand_sz"); other types by number.
Json registryTypeName(uint32_t type);

}  // namespace vhost::events
