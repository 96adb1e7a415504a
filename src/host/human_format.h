// Readable one-line rendering of the runner's events for the human mode.
#pragma once
#include <string>

#include "json_fwd.h"

namespace vhost {

// One line without a line break, e.g. "log Info statrix: PulseTimer started". Events this
// function does not know are shown as their JSON text.
std::string humanLine(const Json& event);

// A bag in its JSON form as "{NAME="text", COUNT=3, SUB={...}}".
std::string humanBag(const Json& bag);

}  // namespace vhost
