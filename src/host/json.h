// The JSON type of the runner and its one-line output.
//
// Objects keep their members in the order written, so bags given as JSON objects keep their
// entry order and events print their fields in a fixed order.
#pragma once
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "varnel/corestring.h"

namespace vhost {

using Json = nlohmann::ordered_json;

// One line of JSON text; invalid UTF-8 in strings is replaced rather than thrown on.
inline std::string dumpLine(const Json& j) {
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

inline std::string utf8(std::wstring_view s) { return CORE::corestring(s).utf8(); }

}  // namespace vhost
