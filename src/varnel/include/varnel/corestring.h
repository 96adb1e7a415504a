// CORE::corestring: the host's wide string with conversions, matching and registry helpers.
#pragma once
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace CORE {

class coreException;

class VARNEL_API corestring {
 public:
  static constexpr size_t npos = std::wstring::npos;

  corestring();
  corestring(const wchar_t* text);  // null gives an empty string
  corestring(const wchar_t* text, size_t length);
  corestring(std::wstring text);
  corestring(std::wstring_view text);
  // Text of a number in `radix` (2..36, else 10): lower-case digits, a minus sign for negative
  // numbers in every radix.
  template <std::integral T>
  corestring(T value, int radix) : corestring(fromInteger(static_cast<int64_t>(value), std::is_signed_v<T>,
                                                          static_cast<uint64_t>(value), radix)) {}
  explicit corestring(const coreException& e);  // the exception's text

  // Conversions between UTF-8 and the wide form (invalid UTF-8 becomes U+FFFD).
  static corestring fromUtf8(std::string_view utf8);
  std::string _tstr(unsigned codePage = 65001) const;  // 65001 = UTF-8; other code pages give UTF-8 too
  std::string utf8() const { return _tstr(65001); }

  const std::wstring& str() const { return text_; }
  const wchar_t* c_str() const { return text_.c_str(); }
  size_t length() const { return text_.size(); }
  bool empty() const { return text_.empty(); }

  // Case-insensitive comparison of the whole strings: 0 when equal, <0 or >0 otherwise. Case
  // folding is locale-free (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic), alike everywhere.
  int comparei(const corestring& other) const;
  // Matches this text against `pattern` with "*" (any run, also empty) and "?" (one character).
  // caseSensitive false ignores case. "*" admits every text.
  bool wildMatch(const corestring& pattern, bool caseSensitive) const;
  size_t find(const corestring& what, size_t from = 0) const;
  corestring substr(size_t pos, size_t count = npos) const;
  // Copy without the given leading and trailing characters (blanks, tabs, CR and LF by default).
  corestring trim(const wchar_t* chars = L" \t\r\n") const;
  // Splits at `separator`; empty items are kept (n separators give n + 1 items, so "" gives one
  // empty item). trimItems trims each item. maxCount 0 means no limit; otherwise the last item
  // holds the unsplit rest.
  std::vector<corestring> split(wchar_t separator, bool trimItems, size_t maxCount = 0) const;

  // Numbers: an optional sign and surrounding blanks are accepted; text that is not a number
  // gives 0. Decimal only. lenient true also accepts trailing non-digits ("12ms" -> 12).
  // Out-of-range values saturate at the result type's limits; toUInt keeps the 32-bit two's
  // complement of a negative number, which first saturates at INT32_MIN (-1 -> 4294967295).
  int32_t toInt(bool lenient = true) const;
  uint32_t toUInt(bool lenient = true) const;
  int64_t toInt64(bool lenient = true) const;
  // "1", "true", "yes", "on" (any case) and non-zero numbers are true; everything else false.
  bool toBool() const;

  // The system's text for an error code (no trailing line break or blanks); "Unknown error N"
  // when the system has none. The thread's last error is left as it was.
  static corestring formatError(uint32_t code);
  // Full file name of a loaded module (null: the main program).
  static corestring getModuleName(void* moduleHandle);
  // The part after the last "\" or "/".
  corestring lastPath() const;
  // Without the last ".suffix" of the final path component ("statrix.dll" -> "statrix"); a dot
  // that starts the component is no suffix (".profile" stays).
  corestring dropSuffix() const;

  // Registry helpers; `path` is "HKLM\Key\...\ValueName" (roots HKLM, HKCU, HKU, HKCR or their
  // long names, any case). readRegistry gives the value as text (SZ as is, DWORD and QWORD as
  // decimal, MULTI_SZ items joined with NUL characters) or `def` when absent, unreadable or of
  // another type. `flag` is reserved.
  static corestring readRegistry(const corestring& path, const corestring& def, bool flag);
  static std::string readRegistry(const char* path, const char* def);
  // Writes this text as the value at `path`: type 1 (SZ), 4 (DWORD: a decimal that fits 32 bits,
  // "-1" stored as 0xFFFFFFFF, else ERROR_INVALID_DATA) or 7 (MULTI_SZ: items separated by NUL
  // characters; empty items cannot be stored and are left out). Creates missing keys. False on
  // failure, with GetLastError telling why (ERROR_INVALID_PARAMETER for a bad path or type).
  // Every write is reported to the host observer. flag1 and flag2 are reserved (pass false).
  bool writeRegistry(const corestring& path, uint32_t type, bool flag1, bool flag2) const;

  corestring& operator+=(const corestring& other);
  friend VARNEL_API corestring operator+(const corestring& a, const corestring& b);
  friend bool operator==(const corestring& a, const corestring& b) { return a.text_ == b.text_; }
  friend auto operator<=>(const corestring& a, const corestring& b) { return a.text_ <=> b.text_; }

 private:
  static corestring fromInteger(int64_t s, bool isSigned, uint64_t u, int radix);
  std::wstring text_;
};

// Orders strings ignoring case (keys of settings maps).
struct VARNEL_API corestringLessI {
  bool operator()(const corestring& a, const corestring& b) const { return a.comparei(b) < 0; }
};

}  // namespace CORE
