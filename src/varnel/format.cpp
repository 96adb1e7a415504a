// CORE::formatMessage: printf-style wide formatting over typed arguments, digits by fmt.
#include <fmt/format.h>
#include <fmt/xchar.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "utf8.h"
#include "varnel/format_conversion.h"
#include "varnel/logging.h"

namespace CORE {
namespace {

using format_conversion::Conversion;
using format_conversion::Kind;
using format_conversion::Length;

constexpr std::wstring_view kBadFormat = L"<bad format>";
constexpr std::wstring_view kMissing = L"<missing>";

// printf's field layout: sign or radix prefix, then the body, padded to the width on the
// right ('-'), with zeros between prefix and body, or with blanks on the left.
void layout(std::wstring& out, const Conversion& c, std::wstring_view prefix, std::wstring_view body, bool zeroPad) {
  const size_t length = prefix.size() + body.size();
  const size_t fill = static_cast<size_t>(c.width) > length ? static_cast<size_t>(c.width) - length : 0;
  if (c.left) {
    out.append(prefix).append(body).append(fill, L' ');
  } else if (zeroPad) {
    out.append(prefix).append(fill, L'0').append(body);
  } else {
    out.append(fill, L' ').append(prefix).append(body);
  }
}

// Bits of the C type a length modifier names; plain and "l" are 32-bit, as on Windows.
unsigned bitsOf(Length length) {
  switch (length) {
    case Length::Char: return 8;
    case Length::Short: return 16;
    case Length::LongLong: case Length::Size: case Length::Int64: case Length::Ptr: return 64;
    default: return 32;
  }
}

const wchar_t* signOf(const Conversion& c, bool negative) {
  return negative ? L"-" : c.plus ? L"+" : c.space ? L" " : L"";
}

bool renderInteger(std::wstring& out, const Conversion& c, const FormatArg& arg) {
  if (arg.kind() != FormatArg::Kind::Signed && arg.kind() != FormatArg::Kind::Unsigned) return false;
  // Reduce the argument to the C type the conversion names, as the value a C caller passed.
  const uint64_t raw = arg.kind() == FormatArg::Kind::Signed ? static_cast<uint64_t>(arg.asSigned()) : arg.asUnsigned();
  const unsigned bits = bitsOf(c.length);
  const uint64_t mask = bits == 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
  const uint64_t value = raw & mask;

  if (c.type == L'c') {
    std::wstring ch;
    if (value != 0) utf8::appendCodePoint(ch, static_cast<char32_t>(value & 0xFFFFFFFFu));  // NUL prints nothing
    layout(out, c, L"", ch, false);
    return true;
  }

  const bool isSigned = c.type == L'd' || c.type == L'i';
  const bool negative = isSigned && ((value >> (bits - 1)) & 1) != 0;
  const uint64_t shown = negative ? ((~value & mask) + 1) & mask : value;  // magnitude

  std::wstring digits;
  switch (c.type) {
    case L'o': digits = fmt::format(L"{:o}", shown); break;
    case L'x': digits = fmt::format(L"{:x}", shown); break;
    case L'X': digits = fmt::format(L"{:X}", shown); break;
    default: digits = fmt::format(L"{}", shown); break;
  }
  if (c.precision == 0 && shown == 0) digits.clear();  // "%.0d" of 0 prints no digits
  if (c.precision > 0 && digits.size() < static_cast<size_t>(c.precision))
    digits.insert(0, static_cast<size_t>(c.precision) - digits.size(), L'0');

  std::wstring_view prefix = isSigned ? signOf(c, negative) : L"";
  if (c.alt && shown != 0 && c.type == L'x') prefix = L"0x";
  if (c.alt && shown != 0 && c.type == L'X') prefix = L"0X";
  if (c.alt && c.type == L'o' && (digits.empty() || digits[0] != L'0')) digits.insert(0, 1, L'0');
  layout(out, c, prefix, digits, c.zero && c.precision < 0);
  return true;
}

bool renderFloating(std::wstring& out, const Conversion& c, const FormatArg& arg) {
  if (arg.kind() != FormatArg::Kind::Double) return false;
  const double value = arg.asDouble();
  const double magnitude = std::fabs(value);
  const bool upper = c.type == L'F' || c.type == L'E' || c.type == L'G';
  std::wstring body;
  if (std::isnan(magnitude)) {
    body = upper ? L"NAN" : L"nan";
  } else if (std::isinf(magnitude)) {
    body = upper ? L"INF" : L"inf";
  } else {
    // fmt follows C for f, e and g (precision 6 by default, "#" keeps the point and zeros).
    const std::wstring pattern = fmt::format(L"{{:{}.{}{}}}", c.alt ? L"#" : L"", c.precision < 0 ? 6 : c.precision,
                                          c.type);
    body = fmt::format(fmt::runtime(pattern), magnitude);
  }
  layout(out, c, signOf(c, std::signbit(value)), body, c.zero && std::isfinite(value));
  return true;
}

bool renderString(std::wstring& out, const Conversion& c, const FormatArg& arg) {
  if (arg.kind() != FormatArg::Kind::WString) return false;
  std::wstring_view text = arg.asString();
  if (c.precision >= 0) text = text.substr(0, static_cast<size_t>(c.precision));
  layout(out, c, L"", text, false);
  return true;
}

// Pointers as on Windows: 16 upper-case hex digits, no prefix (formats write "0x%p").
bool renderPointer(std::wstring& out, const Conversion& c, const FormatArg& arg) {
  if (arg.kind() != FormatArg::Kind::Pointer) return false;
  const auto address = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(arg.asPointer()));
  layout(out, c, L"", fmt::format(L"{:016X}", address), false);
  return true;
}

bool render(std::wstring& out, const Conversion& c, const FormatArg& arg) {
  switch (c.kind) {
    case Kind::Integer: return renderInteger(out, c, arg);
    case Kind::Floating: return renderFloating(out, c, arg);
    case Kind::WString: return renderString(out, c, arg);
    case Kind::Pointer: return renderPointer(out, c, arg);
    default: return false;
  }
}

// A "*" argument: a C int. Empty when it is missing or no integer.
std::optional<int32_t> starValue(const FormatArg* args, size_t count, size_t index) {
  if (index >= count) return std::nullopt;
  const FormatArg& a = args[index];
  if (a.kind() == FormatArg::Kind::Signed) return static_cast<int32_t>(a.asSigned());
  if (a.kind() == FormatArg::Kind::Unsigned) return static_cast<int32_t>(a.asUnsigned());
  return std::nullopt;
}

}  // namespace

std::wstring formatMessage(const wchar_t* format, const FormatArg* args, size_t count) {
  std::wstring out;
  if (!format) return out;
  if (!args) count = 0;
  size_t next = 0;  // next unused argument
  for (size_t i = 0; format[i] != 0;) {
    if (format[i] != L'%') {
      const size_t start = i;
      while (format[i] != 0 && format[i] != L'%') ++i;
      out.append(format + start, i - start);
      continue;
    }
    Conversion c = format_conversion::parse(format, i);
    i = c.next;
    if (c.kind == Kind::Literal) {
      out += L'%';
      continue;
    }
    if (c.kind == Kind::Invalid) {  // consumes no argument: we cannot know what it wanted
      out += kBadFormat;
      continue;
    }
    // A conversion uses its "*" arguments and its value whether or not they fit, so the
    // arguments after a bad one still meet their own conversions.
    bool bad = false;
    if (c.widthFromArg) {
      const std::optional<int32_t> w = starValue(args, count, next++);
      bad = !w;
      if (w && *w < 0) c.left = true;  // as in C: a negative width means left-justify
      if (w) c.width = static_cast<int>(std::min<int64_t>(std::abs(int64_t{*w}), format_conversion::kMaxField));
    }
    if (c.precisionFromArg) {
      const std::optional<int32_t> p = starValue(args, count, next++);
      bad = bad || !p;
      if (p) c.precision = *p < 0 ? -1 : std::min(*p, format_conversion::kMaxField);  // negative: none given
    }
    if (next >= count) {
      out += kMissing;
      continue;
    }
    const FormatArg& arg = args[next++];
    if (bad || !render(out, c, arg)) out += kBadFormat;  // render writes nothing when it refuses
  }
  return out;
}

}  // namespace CORE
