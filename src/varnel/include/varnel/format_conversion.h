// Parsing of one printf-style conversion, shared by the compile-time format check and the formatter.
#pragma once
#include <cstddef>

namespace CORE::format_conversion {

// Length modifiers: hh, h, l, ll, z/j/t, I32, I64, I (pointer sized), L.
enum class Length : unsigned char { Default, Char, Short, Long, LongLong, Size, Int32, Int64, Ptr, LongDouble };

// What a conversion consumes: an integer, a floating-point value, a wide string, a pointer;
// Literal is "%%" (nothing); Invalid is an unknown or cut-off conversion (nothing).
enum class Kind : unsigned char { Integer, Floating, WString, Pointer, Literal, Invalid };

// Widths and precisions above this are clamped, so a hostile format cannot ask for gigabytes.
inline constexpr int kMaxField = 4096;

struct Conversion {
  bool left = false;   // '-'
  bool plus = false;   // '+'
  bool space = false;  // ' '
  bool alt = false;    // '#'
  bool zero = false;   // '0'
  bool widthFromArg = false;      // '*': the width is the next (integer) argument
  bool precisionFromArg = false;  // '.*'
  int width = 0;
  int precision = -1;  // -1: none given
  Length length = Length::Default;
  wchar_t type = 0;  // conversion character (0 when invalid)
  Kind kind = Kind::Invalid;
  size_t next = 0;  // index just past the conversion
};

constexpr Kind kindOf(wchar_t type) {
  switch (type) {
    case L'd': case L'i': case L'u': case L'o': case L'x': case L'X': case L'c':
      return Kind::Integer;
    case L'f': case L'F': case L'e': case L'E': case L'g': case L'G':
      return Kind::Floating;
    case L's':
      return Kind::WString;
    case L'p':
      return Kind::Pointer;
    case L'%':
      return Kind::Literal;
    default:
      return Kind::Invalid;
  }
}

constexpr bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Reads a decimal field at f[i], clamped to kMaxField, advancing i.
constexpr int readNumber(const wchar_t* f, size_t& i) {
  int n = 0;
  while (isDigit(f[i])) {
    n = n * 10 + (f[i] - L'0');
    if (n > kMaxField) n = kMaxField;
    ++i;
  }
  return n;
}

// Parses the conversion whose '%' is at f[pos]. An Invalid conversion ends after the characters
// that were understood (never past the terminating NUL).
constexpr Conversion parse(const wchar_t* f, size_t pos) {
  Conversion c;
  size_t i = pos + 1;
  if (f[i] == L'%') {
    c.type = L'%';
    c.kind = Kind::Literal;
    c.next = i + 1;
    return c;
  }
  for (;; ++i) {
    if (f[i] == L'-') c.left = true;
    else if (f[i] == L'+') c.plus = true;
    else if (f[i] == L' ') c.space = true;
    else if (f[i] == L'#') c.alt = true;
    else if (f[i] == L'0') c.zero = true;
    else break;
  }
  if (f[i] == L'*') {
    c.widthFromArg = true;
    ++i;
  } else {
    c.width = readNumber(f, i);
  }
  if (f[i] == L'.') {
    ++i;
    if (f[i] == L'*') {
      c.precisionFromArg = true;
      ++i;
    } else {
      c.precision = readNumber(f, i);
    }
  }
  switch (f[i]) {
    case L'h':
      ++i;
      c.length = Length::Short;
      if (f[i] == L'h') {
        ++i;
        c.length = Length::Char;
      }
      break;
    case L'l':
      ++i;
      c.length = Length::Long;
      if (f[i] == L'l') {
        ++i;
        c.length = Length::LongLong;
      }
      break;
    case L'z': case L'j': case L't':
      ++i;
      c.length = Length::Size;
      break;
    case L'L':
      ++i;
      c.length = Length::LongDouble;
      break;
    case L'I':
      ++i;
      if (f[i] == L'6' && f[i + 1] == L'4') {
        i += 2;
        c.length = Length::Int64;
      } else if (f[i] == L'3' && f[i + 1] == L'2') {
        i += 2;
        c.length = Length::Int32;
      } else {
        c.length = Length::Ptr;
      }
      break;
    default:
      break;
  }
  c.kind = kindOf(f[i]);
  if (c.kind == Kind::Invalid || c.kind == Kind::Literal) {
    // "%5%" and friends are not a literal percent; "%n" and unknown letters are refused.
    c.kind = Kind::Invalid;
    c.next = f[i] == 0 ? i : i + 1;
    return c;
  }
  c.type = f[i];
  c.next = i + 1;
  return c;
}

}  // namespace CORE::format_conversion
