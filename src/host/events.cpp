// Builders of the runner's events.
#include "events.h"

#include "bag_json.h"

namespace vhost::events {

namespace {

Json event(const char* name) { return Json{{"event", name}}; }

// A DWORD goes out as a number; text that is not a decimal number stays text.
Json dwordValue(const CORE::corestring& text) {
  std::string digits = text.utf8();
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 10)
    return digits;
  uint64_t n = std::stoull(digits);
  return n <= 0xFFFFFFFFu ? Json(n) : Json(digits);
}

Json registryValueJson(uint32_t type, const CORE::corestring& text, const std::vector<CORE::corestring>& items) {
  if (type == 4) return dwordValue(text);
  if (type == 7) {
    Json list = Json::array();
    for (const CORE::corestring& item : items) list.push_back(item.utf8());
    return list;
  }
  return text.utf8();
}

}  // namespace

Json registryTypeName(uint32_t type) {
  switch (type) {
    case 1: return "sz";
    case 2: return "expand_sz";
    case 4: return "dword";
    case 7: return "multi_sz";
    default: return type;
  }
}

Json sysLog(int level, std::wstring_view source, std::wstring_view text) {
  Json e = event("log");
  e["level"] = level;
  e["source"] = utf8(source);
  e["text"] = utf8(text);
  return e;
}

Json externalLog(std::wstring_view component, int logLevel, std::wstring_view text) {
  Json e = event("log");
  e["component"] = utf8(component);
  e["logLevel"] = logLevel;
  e["text"] = utf8(text);
  return e;
}

Json loaded(std::wstring_view module) {
  Json e = event("loaded");
  e["module"] = utf8(module);
  return e;
}

Json broadcast(const CORE::corestring& name1, const CORE::corestring& name2, const CORE::PropertyBag& bag) {
  Json e = event("broadcast");
  e["name"] = name1.utf8();
  e["name2"] = name2.utf8();
  e["bag"] = bagToJson(bag);
  return e;
}

Json message(const CORE::corestring& worker, const CORE::corestring& op, const CORE::PropertyBag& bag) {
  Json e = event("message");
  e["worker"] = worker.utf8();
  e["op"] = op.utf8();
  e["bag"] = bagToJson(bag);
  return e;
}

Json regwrite(const CORE::corestring& path, uint32_t type, const CORE::corestring& value, bool ok) {
  Json e = event("regwrite");
  e["path"] = path.utf8();
  e["type"] = registryTypeName(type);
  std::vector<CORE::corestring> items;
  if (type == 7 && !value.empty()) items = value.split(L'\0', false);
  e["value"] = registryValueJson(type, value, items);
  e["ok"] = ok;
  return e;
}

Json timerStart(uint32_t periodMs) {
  Json e = event("timer");
  e["action"] = "start";
  e["period"] = periodMs;
  return e;
}

Json timerStop() {
  Json e = event("timer");
  e["action"] = "stop";
  return e;
}

Json workerChanged(const CORE::corestring& name, bool added) {
  Json e = event("worker");
  e["name"] = name.utf8();
  e["action"] = added ? "added" : "removed";
  return e;
}

Json reply(const std::string& op, std::optional<bool> result, const CORE::PropertyBag& replyBag) {
  Json e = event("reply");
  e["op"] = op;
  if (!result) {
    e["result"] = false;
    e["host_error"] = "worker not installed";
    return e;
  }
  e["result"] = *result;
  e["reply"] = bagToJson(replyBag);
  if (replyBag.hasError())
    e["error"] = Json{{"code", replyBag.getError()}, {"text", replyBag.getErrorText().utf8()}};
  return e;
}

Json ticked(const std::vector<bool>& results) {
  Json e = event("ticked");
  if (results.empty()) {
    e["result"] = nullptr;
  } else {
    bool all = true;
    for (bool r : results) all = all && r;
    e["result"] = all;
  }
  return e;
}

Json regset(const std::string& path) {
  Json e = event("regset");
  e["path"] = path;
  return e;
}

Json registry(const std::string& path, const std::optional<CORE::RegistryValue>& value) {
  Json e = event("registry");
  e["path"] = path;
  if (!value) {
    e["type"] = nullptr;
    e["value"] = nullptr;
    return e;
  }
  e["type"] = registryTypeName(value->type);
  e["value"] = registryValueJson(value->type, value->text, value->items);
  return e;
}

Json workerState(const std::string& name, bool installed) {
  Json e = event("worker");
  e["name"] = name;
  e["installed"] = installed;
  return e;
}

Json params(bool result) {
  Json e = event("params");
  e["result"] = result;
  return e;
}

Json exited() { return event("exited"); }

Json error(size_t line, const std::string& text) {
  Json e = event("error");
  e["line"] = line;
  e["text"] = text;
  return e;
}

}  // namespace vhost::events
