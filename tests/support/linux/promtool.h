// `promtool check metrics` (Debian package prometheus) on an exposition text.
#pragma once
#include <string>

namespace statrix_test {

inline constexpr char kPromtool[] = "/usr/bin/promtool";

bool havePromtool();

// Checks `text`. Parse errors fail (exit status 1); so does every lint remark except the one
// the fixed family name statrix_counter always draws ("should not include type 'counter'").
// On failure `why` holds promtool's output.
bool promtoolAccepts(const std::string& text, std::string& why);

}  // namespace statrix_test
