// The JSON type of the runner and its one-line output.
//
// Objects keep their members in the order written, so bags given as JSON objects keep their
// entry order and events print their fields in a fixed order.
#pragma once
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "json_fwd.h"
#include "varnel/corestring.h"

namespace vhost {

// One line of JSON text; invalid UTF-8 in strings is replaced rather than thrown on.
inline std::string dumpLine(const Json& j) {
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// A short rendering of a value for error texts: at most about `limit` characters, cut with
// "..." beyond that. Never renders more than it shows, so a huge or deeply nested value costs
// no more than the limit (the recursion goes at most `limit` levels deep).
std::string brief(const Json& j, size_t limit = 100);

inline std::string utf8(std::wstring_view s) { return CORE::corestring(s).utf8(); }

}  // namespace vhost
