// The host's logging sink: typed format arguments, the compile-time format check, the
// system-message entry point, the external logger pointer and the library-loaded notice.
#pragma once
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "varnel/corestring.h"

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
  constexpr FormatArg(double v) : kind_(Kind::Double), d_(v) {}
  constexpr FormatArg(float v) : kind_(Kind::Double), d_(v) {}
  FormatArg(const wchar_t* s) : kind_(Kind::WString), s_(s ? s : L""), len_(s ? std::wcslen(s) : 0) {}
  FormatArg(const std::wstring& s) : kind_(Kind::WString), s_(s.c_str()), len_(s.size()) {}
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
                     std::is_same_v<U, std::wstring> || std::is_same_v<U, corestring>)
    return Cat::WString;
  else if constexpr (std::is_pointer_v<U>) return Cat::Pointer;
  else return Cat::Other;
}
// Walks a wide printf-style format (%s %d %i %u %x %X %p %f %% with flags, width, precision
// and the l/ll/h/z length modifiers) and checks each conversion against the argument list.
// Returns false (making the consteval constructor below ill-formed) on any disagreement.
consteval bool check(const wchar_t* f, const Cat* cats, size_t count) {
  size_t used = 0;
  for (size_t i = 0; f[i] != 0; ++i) {
    if (f[i] != L'%') continue;
    ++i;
    if (f[i] == L'%') continue;
    while (f[i] == L'-' || f[i] == L'+' || f[i] == L' ' || f[i] == L'#' || f[i] == L'0') ++i;
    while (f[i] >= L'0' && f[i] <= L'9') ++i;
    if (f[i] == L'.') {
      ++i;
      while (f[i] >= L'0' && f[i] <= L'9') ++i;
    }
    while (f[i] == L'l' || f[i] == L'h' || f[i] == L'z' || f[i] == L'I') ++i;
    Cat want;
    switch (f[i]) {
      case L'd': case L'i': case L'u': case L'x': case L'X': want = Cat::Integer; break;
      case L'f': case L'g': case L'e': want = Cat::Floating; break;
      case L's': want = Cat::WString; break;
      case L'p': want = Cat::Pointer; break;
      default: return false;  // unknown conversion (including %n) or a lone % at the end
    }
    if (used >= count || cats[used] != want) return false;
    ++used;
  }
  return used == count;
}
}  // namespace format_check

// A format string checked against its arguments at compile time.
template <class... A>
struct wformat_string {
  template <class S>
    requires std::convertible_to<const S&, const wchar_t*>
  consteval wformat_string(const S& s) : str(s) {
    constexpr format_check::Cat cats[sizeof...(A) + 1] = {format_check::categoryOf<A>()..., format_check::Cat::Other};
    if (!format_check::check(str, cats, sizeof...(A))) throw "format string does not match its arguments";
  }
  const wchar_t* str;
};
template <class... A>
using wformat = wformat_string<std::type_identity_t<A>...>;

// Formats a printf-style wide format with typed arguments. A conversion that does not fit its
// argument (only possible without the compile-time check) is rendered as "<bad format>" text,
// never guessed at; a missing argument as "<missing>".
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
