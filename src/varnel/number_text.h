// Reading integers from text: the one parser behind corestring's and the bag's conversions.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace CORE {

// Decimal integer with optional surrounding blanks (space, tab, CR, LF) and one sign directly
// before the digits. The value saturates at the int64 range. Without `lenient` anything but
// blanks after the digits makes the text no number; with it the digits' end ends the number.
// Empty when there are no digits.
std::optional<int64_t> parseInteger(std::wstring_view text, bool lenient);

}  // namespace CORE
