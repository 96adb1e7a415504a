// Parsing of varnel-host's command line.
#include "options.h"

#include <charconv>
#include <limits>

namespace vhost {

namespace {

template <class T>
bool parseNumber(std::string_view text, T& out) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && ptr == end;
}

// One option: a flag sets something; an option with a value parses it (false with `error` set
// when the value is bad).
using FlagFn = void (*)(Options&);
using ValueFn = bool (*)(Options&, std::string_view, std::string&);
struct OptionDef {
  std::string_view name;
  FlagFn flag;
  ValueFn value;
};

bool badValue(std::string& error, std::string_view option, std::string_view what, std::string_view got) {
  error = "option " + std::string(option) + " needs " + std::string(what) + ", got \"" + std::string(got) + "\"";
  return false;
}

bool addNameValue(std::vector<NameValue>& list, std::string_view option, std::string_view text, std::string& error) {
  size_t eq = text.find('=');
  if (eq == std::string_view::npos || eq == 0) return badValue(error, option, "NAME=VALUE", text);
  list.push_back({std::string(text.substr(0, eq)), std::string(text.substr(eq + 1))});
  return true;
}

constexpr OptionDef kOptions[] = {
    {"--plugin", nullptr, [](Options& o, std::string_view v, std::string&) { o.plugin = std::string(v); return true; }},
    {"--registry", nullptr,
     [](Options& o, std::string_view v, std::string&) { o.registry = std::string(v); return true; }},
    {"--procfs", nullptr, [](Options& o, std::string_view v, std::string&) { o.procfs = std::string(v); return true; }},
    {"--utmp", nullptr, [](Options& o, std::string_view v, std::string&) { o.utmp = std::string(v); return true; }},
    {"--param", nullptr,
     [](Options& o, std::string_view v, std::string& e) { return addNameValue(o.params, "--param", v, e); }},
    {"--set", nullptr,
     [](Options& o, std::string_view v, std::string& e) { return addNameValue(o.settings, "--set", v, e); }},
    {"--unset", nullptr,
     [](Options& o, std::string_view v, std::string& e) {
       if (v.empty() || v.find('=') != std::string_view::npos) return badValue(e, "--unset", "a setting name", v);
       o.unsets.emplace_back(v);
       return true;
     }},
    {"--seconds", nullptr,
     [](Options& o, std::string_view v, std::string& e) {
       uint32_t n = 0;
       if (!parseNumber(v, n)) return badValue(e, "--seconds", "a whole number of seconds", v);
       o.seconds = n;
       return true;
     }},
    {"--script", nullptr,
     [](Options& o, std::string_view v, std::string& e) {
       if (v.empty()) return badValue(e, "--script", "a file name or -", v);
       o.script = std::string(v);
       o.json = true;
       return true;
     }},
    {"--level", nullptr,
     [](Options& o, std::string_view v, std::string& e) {
       int n = 0;
       if (!parseNumber(v, n)) return badValue(e, "--level", "an integer", v);
       o.level = n;
       return true;
     }},
    {"--metrics-listen", nullptr,
     [](Options& o, std::string_view v, std::string& e) {
       ListenAddress address;
       std::string why;
       if (!parseListenAddress(v, address, why)) return badValue(e, "--metrics-listen", "ADDR:PORT", v);
       o.metricsListen = address;
       return true;
     }},
    {"--web-config", nullptr,
     [](Options& o, std::string_view v, std::string& e) {
       if (v.empty()) return badValue(e, "--web-config", "a file name", v);
       o.webConfig = std::string(v);
       return true;
     }},
    {"--helpdesk", [](Options& o) { o.helpdesk = true; }, nullptr},
    {"--json", [](Options& o) { o.json = true; }, nullptr},
    {"--manual-timers", [](Options& o) { o.manualTimers = true; }, nullptr},
    {"--trace-threads", [](Options& o) { o.traceThreads = true; }, nullptr},
    {"--top", [](Options& o) { o.top = true; }, nullptr},
    {"--verbose", [](Options& o) { o.verbose = true; }, nullptr},
    {"--help", [](Options& o) { o.help = true; }, nullptr},
};

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options& out, std::string& error) {
  Options parsed;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    std::string_view name = arg;
    std::optional<std::string_view> inlineValue;
    if (arg.starts_with("--")) {
      size_t eq = arg.find('=');
      if (eq != std::string_view::npos) {
        name = arg.substr(0, eq);
        inlineValue = arg.substr(eq + 1);
      }
    }
    const OptionDef* def = nullptr;
    for (const OptionDef& d : kOptions)
      if (d.name == name) def = &d;
    if (def == nullptr) {
      error = arg.starts_with("-") ? "unknown option " + std::string(name)
                                   : "unexpected argument \"" + std::string(arg) + "\"";
      return false;
    }
    if (def->flag) {
      if (inlineValue) {
        error = "option " + std::string(name) + " takes no value";
        return false;
      }
      def->flag(parsed);
      continue;
    }
    std::string_view value;
    if (inlineValue) {
      value = *inlineValue;
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      error = "option " + std::string(name) + " needs a value";
      return false;
    }
    if (!def->value(parsed, value, error)) return false;
  }
  out = std::move(parsed);
  return true;
}

ParamValue inferParam(std::string_view text) {
  if (text == "true") return true;
  if (text == "false") return false;
  int64_t n = 0;
  // from_chars accepts a leading "-" but not "+", which keeps "+5" text, as intended.
  if (parseNumber(text, n)) return n;
  return std::string(text);
}

CORE::PropertyBag paramBag(const std::vector<NameValue>& params) {
  CORE::PropertyBag bag;
  for (const NameValue& p : params) {
    CORE::corestring name = CORE::corestring::fromUtf8(p.name);
    ParamValue v = inferParam(p.value);
    if (const bool* b = std::get_if<bool>(&v)) {
      bag.addBool(name, *b);
    } else if (const int64_t* n = std::get_if<int64_t>(&v)) {
      if (*n >= std::numeric_limits<int32_t>::min() && *n <= std::numeric_limits<int32_t>::max())
        bag.addInt(name, static_cast<int32_t>(*n));
      else
        bag.addInt64(name, *n);
    } else {
      bag.add(name, CORE::corestring::fromUtf8(std::get<std::string>(v)));
    }
  }
  return bag;
}

CORE::RegistryValue settingValue(std::string_view text) {
  CORE::RegistryValue value;
  uint32_t n = 0;
  // Digits only: a sign would not survive as a DWORD, so "-1" stays text.
  bool digitsOnly = !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
  if (digitsOnly && parseNumber(text, n)) {
    value.type = 4;
    value.text = CORE::corestring(n, 10);
  } else {
    value.type = 1;
    value.text = CORE::corestring::fromUtf8(text);
  }
  return value;
}

}  // namespace vhost
