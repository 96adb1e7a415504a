// Parsing of script lines into commands.
#include "script/command.h"

#include <set>

#include "bag_json.h"
#include "json.h"

namespace vhost {

namespace {

// The members of one command object, remembering which ones the command asked for so that
// the rest can be refused.
class Members {
 public:
  explicit Members(const Json& object) : object_(object) {}

  const Json* find(const std::string& key) {
    asked_.insert(key);
    auto it = object_.find(key);
    return it == object_.end() ? nullptr : &*it;
  }

  bool string(const std::string& key, std::string& out, bool required, std::string& error) {
    const Json* v = find(key);
    if (v == nullptr) return required ? missing(key, "a string", error) : true;
    if (!v->is_string()) return wrong(key, "a string", *v, error);
    out = v->get<std::string>();
    return true;
  }

  bool boolean(const std::string& key, bool& out, std::string& error) {
    const Json* v = find(key);
    if (v == nullptr) return true;
    if (!v->is_boolean()) return wrong(key, "true or false", *v, error);
    out = v->get<bool>();
    return true;
  }

  bool uint32(const std::string& key, uint32_t& out, bool required, std::string& error) {
    const Json* v = find(key);
    if (v == nullptr) return required ? missing(key, "a whole number", error) : true;
    if (!v->is_number_unsigned() || v->get<uint64_t>() > 0xFFFFFFFFu)
      return wrong(key, "a whole number below 2^32", *v, error);
    out = v->get<uint32_t>();
    return true;
  }

  bool noOthers(std::string& error) const {
    for (const auto& [key, value] : object_.items()) {
      if (asked_.count(key) == 0) {
        error = "unknown member \"" + key + "\"";
        return false;
      }
    }
    return true;
  }

  static bool missing(const std::string& key, const char* what, std::string& error) {
    error = "\"" + key + "\" is missing (" + what + ")";
    return false;
  }
  static bool wrong(const std::string& key, const char* what, const Json& got, std::string& error) {
    error = "\"" + key + "\" must be " + what + ", got " + brief(got);
    return false;
  }

 private:
  const Json& object_;
  std::set<std::string> asked_;
};

bool parseBag(const Json* value, CORE::PropertyBag& out, const std::string& key, std::string& error) {
  if (value == nullptr || value->is_null()) return true;
  if (!jsonToBag(*value, out, error)) {
    error = "\"" + key + "\": " + error;
    return false;
  }
  return true;
}

bool parseOp(Members& m, Command& out, std::string& error) {
  OpCommand op;
  std::string caller = "admin";
  if (!m.string("op", op.op, true, error) || !m.string("worker", op.worker, false, error) ||
      !m.string("caller", caller, false, error) || !parseBag(m.find("request"), op.request, "request", error))
    return false;
  if (op.op.empty()) return Members::wrong("op", "a non-empty name", "", error);
  if (caller == "admin") op.caller = CORE::Caller::Admin;
  else if (caller == "user") op.caller = CORE::Caller::User;
  else if (caller == "unknown") op.caller = CORE::Caller::Unknown;
  else return Members::wrong("caller", "\"admin\", \"user\" or \"unknown\"", caller, error);
  out = std::move(op);
  return true;
}

bool parseRegSet(Members& m, Command& out, std::string& error) {
  RegSetCommand cmd;
  std::string type;
  if (!m.string("path", cmd.path, true, error) || !m.string("type", type, true, error)) return false;
  const Json* value = m.find("value");
  if (value == nullptr) return Members::missing("value", "the value to write", error);
  if (type == "sz") {
    if (!value->is_string()) return Members::wrong("value", "a string for type sz", *value, error);
    cmd.value.type = 1;
    cmd.value.text = CORE::corestring::fromUtf8(value->get<std::string>());
  } else if (type == "dword") {
    if (!value->is_number_unsigned() || value->get<uint64_t>() > 0xFFFFFFFFu)
      return Members::wrong("value", "a whole number below 2^32 for type dword", *value, error);
    cmd.value.type = 4;
    cmd.value.text = CORE::corestring(value->get<uint32_t>(), 10);
  } else if (type == "multi_sz") {
    if (!value->is_array()) return Members::wrong("value", "an array of strings for type multi_sz", *value, error);
    cmd.value.type = 7;
    for (const Json& item : *value) {
      if (!item.is_string()) return Members::wrong("value", "an array of strings for type multi_sz", *value, error);
      cmd.value.items.push_back(CORE::corestring::fromUtf8(item.get<std::string>()));
    }
  } else {
    return Members::wrong("type", "\"sz\", \"dword\" or \"multi_sz\"", type, error);
  }
  out = std::move(cmd);
  return true;
}

bool parseCmd(const std::string& name, Members& m, Command& out, std::string& error) {
  if (name == "tick") {
    out = TickCommand{};
  } else if (name == "exit") {
    out = ExitCommand{};
  } else if (name == "regset") {
    return parseRegSet(m, out, error);
  } else if (name == "regget") {
    RegGetCommand cmd;
    if (!m.string("path", cmd.path, true, error)) return false;
    out = std::move(cmd);
  } else if (name == "helpdesk") {
    HelpdeskCommand cmd;
    if (!m.boolean("installed", cmd.installed, error)) return false;
    out = cmd;
  } else if (name == "waitWorker") {
    WaitWorkerCommand cmd;
    if (!m.string("name", cmd.name, true, error) || !m.uint32("timeout_ms", cmd.timeoutMs, false, error) ||
        !m.boolean("installed", cmd.installed, error))
      return false;
    out = std::move(cmd);
  } else if (name == "sleep") {
    SleepCommand cmd;
    if (!m.uint32("ms", cmd.ms, true, error)) return false;
    out = cmd;
  } else if (name == "params") {
    const Json* bag = m.find("bag");
    if (bag == nullptr) return Members::missing("bag", "a bag or null", error);
    ParamsCommand cmd;
    if (!bag->is_null()) {
      cmd.bag.emplace();
      if (!parseBag(bag, *cmd.bag, "bag", error)) return false;
    }
    out = std::move(cmd);
  } else {
    error = "unknown command \"" + name + "\"";
    return false;
  }
  return true;
}

// Refuses what the JSON parser must not see: a NUL byte (which would end the text early, so the
// rest of the line went unnoticed) and nesting deeper than kMaxLineDepth, counted over brackets
// outside strings before parsing, so no later recursion over the value can run out of stack.
bool checkLine(std::string_view line, std::string& error) {
  if (size_t nul = line.find('\0'); nul != std::string_view::npos) {
    error = "the line holds a NUL byte at column " + std::to_string(nul + 1);
    return false;
  }
  size_t depth = 0;
  bool inString = false;
  bool escaped = false;
  for (char c : line) {
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxLineDepth) {
        error = "the line nests deeper than " + std::to_string(kMaxLineDepth) + " levels";
        return false;
      }
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}

}  // namespace

bool parseCommand(std::string_view line, Command& out, std::string& error) {
  if (!checkLine(line, error)) return false;
  Json json;
  try {
    json = Json::parse(line);
  } catch (const Json::exception& e) {
    // Syntax errors, and numbers no double can hold ("number overflow").
    error = std::string("not valid JSON: ") + e.what();
    return false;
  }
  if (!json.is_object()) {
    error = "a command must be a JSON object, got " + brief(json);
    return false;
  }
  Members m(json);
  bool isOp = json.contains("op");
  if (isOp == json.contains("cmd")) {
    error = "a command needs exactly one of \"op\" and \"cmd\"";
    return false;
  }
  std::string name;
  if (!isOp && !m.string("cmd", name, true, error)) return false;
  if (!(isOp ? parseOp(m, out, error) : parseCmd(name, m, out, error))) return false;
  return m.noOthers(error);
}

}  // namespace vhost
