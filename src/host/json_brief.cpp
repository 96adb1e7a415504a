// Short renderings of JSON values for error texts.
#include "json.h"

namespace vhost {

namespace {

// Appends `j` to `out` until `out` is longer than `limit`; true while there was room.
bool render(const Json& j, std::string& out, size_t limit) {
  if (out.size() > limit) return false;
  if (j.is_array()) {
    out += '[';
    bool first = true;
    for (const Json& item : j) {
      if (!first) out += ',';
      first = false;
      if (!render(item, out, limit)) return false;
    }
    out += ']';
  } else if (j.is_object()) {
    out += '{';
    bool first = true;
    for (const auto& [key, value] : j.items()) {
      if (!first) out += ',';
      first = false;
      out += dumpLine(Json(key));
      out += ':';
      if (!render(value, out, limit)) return false;
    }
    out += '}';
  } else {
    out += dumpLine(j);
  }
  return out.size() <= limit;
}

}  // namespace

std::string brief(const Json& j, size_t limit) {
  std::string out;
  if (!render(j, out, limit)) {
    out.resize(limit);
    out += "...";
  }
  return out;
}

}  // namespace vhost
