// `promtool check metrics` (Debian package prometheus) on an exposition text.
#pragma once
#include <string>

namespace statrix_test {

inline constexpr char kPromtool[] = "/usr/bin/promtool";

bool havePromtool();

// Checks `text`: true only when promtool reports nothing (no parse error, no lint remark). On
// failure `why` holds promtool's output.
bool promtoolAccepts(const std::string& text, std::string& why);

}  // namespace statrix_test
