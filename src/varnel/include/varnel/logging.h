// The host's logging sink: typed format arguments, the compile-time format check, the
// system-message entry point, the external logger pointer and the library-loaded notice.
#pragma once
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string>
#include <string_view>
#include <type_traits>

#include "varnel/corestring.h"
#include "varnel/format_conversion.h"

namespace CORE {

enum SysMessageType : int { Trace = 0, Debug = 1, Info = 2, Warn = 3, Error = 4 };

// One argument of a log line, passed by type (never as raw varargs): text inside a string
// argument is never read as a format.
class FormatArg {
 public:
  enum class Kind { None, Signed, Unsigned, Double, WString, Pointer };
  constexpr FormatArg() = default;
  template <std::signed_integral T>
  constexpr FormatArg(T v) : kind_(Kind::Signed), i_(v) {}
  template <std::unsigned_integral T>
    requires(!std::same_as<T, bool>)
  constexpr FormatArg(T v) : kind_(Kind::Unsigned), u_(v) {}
  constexpr FormatArg(bool v) : kind_(Kind::Unsigned), u_(v ? 1u : 0u) {}
  template <class T>
    requires std::is_enum_v<T>
  constexpr FormatArg(T v) : FormatArg(static_cast<std::underlying_type_t<T>>(v)) {}
  template <std::floating_point T>
  constexpr FormatArg(T v) : kind_(Kind::Double), d_(static_cast<double>(v)) {}
  FormatArg(const wchar_t* s) : kind_(Kind::WString), s_(s ? s : L""), len_(s ? std::wcslen(s) : 0) {}
  FormatArg(const std::wstring& s) : kind_(Kind::WString), s_(s.c_str()), len_(s.size()) {}
  FormatArg(std::wstring_view s) : kind_(Kind::WString), s_(s.data()), len_(s.size()) {}
  FormatArg(const corestring& s) : kind_(Kind::WString), s_(s.c_str()), len_(s.length()) {}
  FormatArg(const void* p) : kind_(Kind::Pointer), p_(p) {}

  Kind kind() const { return kind_; }
  int64_t asSigned() const { return i_; }
  uint64_t asUnsigned() const { return u_; }
  double asDouble() const { return d_; }
  std::wstring_view asString() const { return {s_, len_}; }
  const void* asPointer() const { return p_; }

 private:
  Kind kind_ = Kind::None;
  union {
    int64_t i_ = 0;
    uint64_t u_;
    double d_;
    const void* p_;
  };
  const wchar_t* s_ = L"";
  size_t len_ = 0;
};

namespace format_check {
// Argument categories the printf-style conversions accept.
enum class Cat { Integer, Floating, WString, Pointer, Other };
template <class T>
consteval Cat categoryOf() {
  using U = std::remove_cvref_t<std::decay_t<T>>;
  if constexpr (std::is_same_v<U, bool> || std::is_integral_v<U> || std::is_enum_v<U>) return Cat::Integer;
  else if constexpr (std::is_floating_point_v<U>) return Cat::Floating;
  else if constexpr (std::is_same_v<U, const wchar_t*> || std::is_same_v<U, wchar_t*> ||
                     std::is_same_v<U, std::wstring> || std::is_same_v<U, std::wstring_view> ||
                     std::is_same_v<U, corestring>)
    return Cat::WString;
  else if constexpr (std::is_pointer_v<U>) return Cat::Pointer;
  else return Cat::Other;
}
consteval Cat categoryOf(format_conversion::Kind kind) {
  switch (kind) {
    case format_conversion::Kind::Integer: return Cat::Integer;
    case format_conversion::Kind::Floating: return Cat::Floating;
    case format_conversion::Kind::WString: return Cat::WString;
    case format_conversion::Kind::Pointer: return Cat::Pointer;
    default: return Cat::Other;
  }
}
// Walks a wide printf-style format with the formatter's own parser and checks each conversion
// (and each "*" width or precision, which takes an integer) against the argument list. False
// on an unknown conversion (including %n), a cut-off one, a category mismatch, a missing or
// an extra argument.
consteval bool check(const wchar_t* f, const Cat* cats, size_t count) {
  size_t used = 0;
  auto take = [&](Cat want) {
    if (used >= count || cats[used] != want) return false;
    ++used;
    return true;
  };
  for (size_t i = 0; f[i] != 0;) {
    if (f[i] != L'%') {
      ++i;
      continue;
    }
    const format_conversion::Conversion c = format_conversion::parse(f, i);
    i = c.next;
    if (c.kind == format_conversion::Kind::Literal) continue;
    if (c.kind == format_conversion::Kind::Invalid) return false;
    if (c.widthFromArg && !take(Cat::Integer)) return false;
    if (c.precisionFromArg && !take(Cat::Integer)) return false;
    if (!take(categoryOf(c.kind))) return false;
  }
  return used == count;
}
// True when `format` suits arguments of types A...: the predicate wformat_string enforces.
template <class... A>
consteval bool matches(const wchar_t* format) {
  constexpr Cat cats[sizeof...(A) + 1] = {categoryOf<A>()..., Cat::Other};
  return check(format, cats, sizeof...(A));
}
}  // namespace format_check

// A format string checked against its arguments at compile time.
template <class... A>
struct wformat_string {
  template <class S>
    requires std::convertible_to<const S&, const wchar_t*>
  consteval wformat_string(const S& s) : str(s) {
    if (!format_check::matches<A...>(str)) throw "format string does not match its arguments";
  }
  const wchar_t* str;
};
template <class... A>
using wformat = wformat_string<std::type_identity_t<A>...>;

// Formats a printf-style wide format with typed arguments: %d %i %u %o %x %X %c, %f %e %g (and
// upper-case forms), %s, %p (16 upper-case hex digits), %%; flags - + space # 0, width and
// precision (also "*"), length modifiers hh h l ll z j t I I32 I64. Integers follow C's 32-bit
// int semantics unless a 64-bit length is given (-1 under %u is 4294967295). A conversion
// that does not fit its argument or that is unknown (including %n) is rendered as
// "<bad format>" and one without an argument as "<missing>", never guessed at; extra
// arguments are ignored. Argument text is copied, never read as a format. Null format: "".
VARNEL_API std::wstring formatMessage(const wchar_t* format, const FormatArg* args, size_t count);

// The system-message sink: one line at `level` from `source`. The host formats it.
VARNEL_API void __SysMessage(int level, const wchar_t* source, const wchar_t* format, const FormatArg* args,
                             size_t count, const wchar_t* reserved1, const wchar_t* reserved2);

// External logger: installed by the host, may be null.
using corelogExternalFn = void (*)(const wchar_t* component, int logLevel, const wchar_t* format,
                                   const FormatArg* args, size_t count);
VARNEL_API extern corelogExternalFn corelogExternal;

// Tells the host that a library was loaded (module handle, flag reserved: false).
VARNEL_API void sysmsgLogLoaded(void* moduleHandle, bool flag);

}  // namespace CORE
