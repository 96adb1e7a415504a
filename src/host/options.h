// Command-line options of varnel-host and the typed values derived from them.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "metrics/listen_address.h"
#include "varnel/host_control.h"
#include "varnel/propertybag.h"
#include "well_known_names.h"

namespace vhost {

struct NameValue {
  std::string name;
  std::string value;
};

struct Options {
  std::optional<std::string> plugin;    // default: the plug-in beside the runner
  std::optional<std::string> registry;  // sets VARNEL_REGISTRY
  std::optional<std::string> procfs;    // sets VARNEL_PROCFS
  std::optional<std::string> utmp;      // sets VARNEL_UTMP
  std::vector<NameValue> params;        // --param, in order
  std::vector<NameValue> settings;      // --set, in order
  bool helpdesk = false;
  std::optional<uint32_t> seconds;
  std::optional<std::string> script;  // a file name, or "-" for stdin
  bool json = false;                  // also implied by --script
  bool manualTimers = false;
  bool traceThreads = false;
  std::optional<int> level;
  std::optional<ListenAddress> metricsListen;  // no endpoint without it
  bool help = false;
};

// Parses the arguments after the program name. Options take their value as the next argument
// or after "=" ("--level=2"). On failure returns false with a one-line reason in `error`.
bool parseOptions(const std::vector<std::string>& args, Options& out, std::string& error);

// A --param value: "true"/"false" is a bool, a decimal integer (optional "-") an integer, any
// other text a string.
using ParamValue = std::variant<bool, int64_t, std::string>;
ParamValue inferParam(std::string_view text);

// The bag handed to PluginParams: one entry per --param, integers as i32 when they fit, else i64.
CORE::PropertyBag paramBag(const std::vector<NameValue>& params);

// The registry key --set writes into.
using well_known::kAlarmSettingsKey;

// A --set value: a decimal number that fits 32 bits unsigned is a DWORD, anything else SZ.
CORE::RegistryValue settingValue(std::string_view text);

}  // namespace vhost
