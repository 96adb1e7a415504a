// The script commands of varnel-host, parsed from one line of JSON each.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "varnel/corestring.h"
#include "varnel/host_control.h"
#include "varnel/propertybag.h"

namespace vhost {

// {"op":NAME,"request":BAG,"caller":"admin"|"user"|"unknown","worker":W}
struct OpCommand {
  std::string op;
  std::string worker = "perfmon";
  CORE::PropertyBag request;
  CORE::Caller caller = CORE::Caller::Admin;
};
struct TickCommand {};
// {"cmd":"regset","path":P,"type":"sz"|"dword"|"multi_sz","value":V}
struct RegSetCommand {
  std::string path;
  CORE::RegistryValue value;
};
struct RegGetCommand {
  std::string path;
};
struct HelpdeskCommand {
  bool installed = true;
};
// Waits until the worker is installed (or, with "installed":false, removed).
struct WaitWorkerCommand {
  std::string name;
  uint32_t timeoutMs = 5000;
  bool installed = true;
};
struct SleepCommand {
  uint32_t ms = 0;
};
// A null bag calls PluginParams with a null pointer.
struct ParamsCommand {
  std::optional<CORE::PropertyBag> bag;
};
struct ExitCommand {};

using Command = std::variant<OpCommand, TickCommand, RegSetCommand, RegGetCommand, HelpdeskCommand,
                             WaitWorkerCommand, SleepCommand, ParamsCommand, ExitCommand>;

// JSON arrays and objects nest at most this deep in one line: enough for bags nested
// kMaxBagDepth deep in their typed form. Deeper lines are refused before they are parsed.
inline constexpr size_t kMaxLineDepth = 100;

// Parses one script line. On failure returns false with a one-line reason in `error`: bad JSON,
// a number out of range, a NUL byte, too deep nesting, a wrong field. Members a command does
// not know are refused, so that a misspelt field is reported, not ignored. Never throws.
bool parseCommand(std::string_view line, Command& out, std::string& error);

}  // namespace vhost
