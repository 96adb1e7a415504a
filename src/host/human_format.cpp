// Readable rendering of the runner's events.
#include "human_format.h"

#include "json.h"

namespace vhost {

namespace {

// Strings without quotes, anything else as JSON.
std::string plain(const Json& v) { return v.is_string() ? v.get<std::string>() : dumpLine(v); }

std::string text(const Json& event, const char* key) {
  auto it = event.find(key);
  return it == event.end() ? std::string() : plain(*it);
}

std::string levelName(const Json& level) {
  static const char* const names[] = {"Trace", "Debug", "Info", "Warn", "Error"};
  if (level.is_number_integer()) {
    int64_t n = level.get<int64_t>();
    if (n >= 0 && n < 5) return names[n];
  }
  return "level " + dumpLine(level);
}

std::string logLine(const Json& e) {
  if (e.contains("source")) return "log " + levelName(e["level"]) + " " + text(e, "source") + ": " + text(e, "text");
  return "log " + text(e, "component") + "/" + text(e, "logLevel") + ": " + text(e, "text");
}

std::string replyLine(const Json& e) {
  std::string line = "reply to " + text(e, "op") + ": ";
  if (e.contains("host_error")) return line + text(e, "host_error");
  line += text(e, "result") + " " + humanBag(e.value("reply", Json::array()));
  if (e.contains("error")) line += " error " + text(e["error"], "code") + " " + text(e["error"], "text");
  return line;
}

std::string workerLine(const Json& e) {
  if (e.contains("action")) return "worker " + text(e, "name") + " " + text(e, "action");
  return "worker " + text(e, "name") + (e.value("installed", false) ? " is installed" : " is not installed");
}

// The value of entry `name` of a bag in its JSON form; null when absent.
const Json* bagEntry(const Json& bag, std::string_view name) {
  if (!bag.is_array()) return nullptr;
  for (const Json& entry : bag) {
    if (entry.is_array() && entry.size() == 3 && entry[0].is_string() && entry[0].get<std::string>() == name) {
      return &entry[2];
    }
  }
  return nullptr;
}

// The same as text; empty when absent.
std::string bagText(const Json& bag, std::string_view name) {
  const Json* value = bagEntry(bag, name);
  return value != nullptr ? plain(*value) : std::string();
}

// "pid=1234 name=editor user=host\alice 51%" from one process bag of a PERF-ALERT broadcast.
std::string processText(const Json& process) {
  std::string percent = bagText(process, "CPU_PERCENTAGE");
  if (percent.empty()) percent = bagText(process, "MEMORY_PERCENTAGE");
  std::string line = "pid=" + bagText(process, "PROCESSID") + " name=" + bagText(process, "PROCESSNAME");
  if (bagEntry(process, "USER") != nullptr) line += " user=" + bagText(process, "USER");
  return line + " " + percent + "%";
}

// The process alarm and the top-consumer list, which a person reads without the bag syntax.
std::string perfAlertLine(const Json& e) {
  const std::string kind = text(e, "name2");
  const Json bag = e.value("bag", Json::array());
  if (kind == "PROCESS-ALARM") {
    const char* resource = bagEntry(bag, "CPU_PERCENTAGE") != nullptr ? "CPU" : "memory";
    return std::string("process alarm (") + resource + "): " + processText(bag) + " session=" +
           bagText(bag, "SESSIONID");
  }
  if (kind == "PROCESS-LIST") {
    const std::string count = bagText(bag, "numConsumers");
    std::string line = "top " + std::string(bagText(bag, "reason") == "CPU" ? "CPU" : "memory") + " consumers (" +
                       count + ")";
    std::string separator = ": ";
    for (size_t i = 0;; ++i) {
      const Json* process = bagEntry(bag, std::to_string(i));
      if (process == nullptr) break;
      line += separator + processText(*process);
      separator = "; ";
    }
    return line;
  }
  return "broadcast " + text(e, "name") + " " + kind + " " + humanBag(bag);
}

}  // namespace

std::string humanBag(const Json& bag) {
  std::string out = "{";
  for (const Json& entry : bag) {
    if (out.size() > 1) out += ", ";
    if (!entry.is_array() || entry.size() != 3) {
      out += dumpLine(entry);
      continue;
    }
    out += plain(entry[0]) + "=";
    out += entry[1] == "bag" ? humanBag(entry[2]) : dumpLine(entry[2]);
  }
  return out + "}";
}

std::string humanLine(const Json& e) {
  std::string name = text(e, "event");
  if (name == "log") return logLine(e);
  if (name == "loaded") return "loaded module " + text(e, "module");
  if (name == "broadcast" && text(e, "name") == "PERF-ALERT") return perfAlertLine(e);
  if (name == "broadcast")
    return "broadcast " + text(e, "name") + " " + text(e, "name2") + " " + humanBag(e.value("bag", Json::array()));
  if (name == "message")
    return "message to " + text(e, "worker") + " " + text(e, "op") + " " + humanBag(e.value("bag", Json::array()));
  if (name == "regwrite")
    return "registry write " + text(e, "path") + " = " + dumpLine(e.value("value", Json())) + " (" + text(e, "type") +
           ")" + (e.value("ok", false) ? "" : " FAILED");
  if (name == "timer")
    return text(e, "action") == "start" ? "timer started, period " + text(e, "period") + " ms" : "timer stopped";
  if (name == "worker") return workerLine(e);
  if (name == "reply") return replyLine(e);
  if (name == "ticked") return "timers ticked: " + text(e, "result");
  if (name == "regset") return "registry set " + text(e, "path");
  if (name == "registry")
    return "registry " + text(e, "path") + " = " + dumpLine(e.value("value", Json())) + " (" + text(e, "type") + ")";
  if (name == "params") return "PluginParams: " + text(e, "result");
  if (name == "exited") return "PluginExit done";
  if (name == "error") return "script line " + text(e, "line") + ": " + text(e, "text");
  return dumpLine(e);
}

}  // namespace vhost
