// The live view (--top): one screen redrawn every pass until q, Ctrl-C, a stop request or the
// time limit.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "human/pass_figures.h"

namespace vhost {

// `endpoint` is the metrics address shown in the header, or empty.
void runTopView(PassFigures& passes, const std::string& endpoint, std::optional<uint32_t> seconds,
                const std::function<bool()>& stop);

}  // namespace vhost
