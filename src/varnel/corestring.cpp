// CORE::corestring: construction, UTF-8 conversion, matching, splitting, numbers and path parts.
#include "varnel/corestring.h"

#include <algorithm>
#include <iterator>
#include <limits>

#include "casefold.h"
#include "number_text.h"
#include "utf8.h"
#include "varnel/coreexception.h"

namespace CORE {

// Emitted (and exported) here so that code binding npos to a reference links against the DLL.
constexpr size_t corestring::npos;

corestring::corestring() = default;
corestring::corestring(const wchar_t* text) : text_(text ? text : L"") {}
corestring::corestring(const wchar_t* text, size_t length)
    : text_(text ? std::wstring(text, length) : std::wstring()) {}
corestring::corestring(std::wstring text) : text_(std::move(text)) {}
corestring::corestring(std::wstring_view text) : text_(text) {}
corestring::corestring(const coreException& e) : text_(e.text().str()) {}

// Negative numbers carry a minus sign in every radix; digits above 9 are lower-case letters.
// A radix outside 2..36 is taken as 10.
corestring corestring::fromInteger(int64_t s, bool isSigned, uint64_t u, int radix) {
  if (radix < 2 || radix > 36) radix = 10;
  const bool negative = isSigned && s < 0;
  uint64_t magnitude = negative ? uint64_t{0} - static_cast<uint64_t>(s) : u;
  wchar_t buffer[72];
  size_t pos = std::size(buffer);
  do {
    buffer[--pos] = L"0123456789abcdefghijklmnopqrstuvwxyz"[magnitude % static_cast<unsigned>(radix)];
    magnitude /= static_cast<unsigned>(radix);
  } while (magnitude != 0);
  if (negative) buffer[--pos] = L'-';
  return corestring(std::wstring(buffer + pos, std::size(buffer) - pos));
}

corestring corestring::fromUtf8(std::string_view utf8) { return corestring(utf8::decode(utf8)); }

std::string corestring::_tstr(unsigned codePage) const {
  (void)codePage;  // only UTF-8 is produced
  return utf8::encode(text_);
}

int corestring::comparei(const corestring& other) const {
  const std::wstring& b = other.text_;
  const size_t n = std::min(text_.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    // Compared as unsigned code units, so the order does not depend on wchar_t's signedness.
    const auto x = static_cast<uint32_t>(foldCase(text_[i]));
    const auto y = static_cast<uint32_t>(foldCase(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (text_.size() == b.size()) return 0;
  return text_.size() < b.size() ? -1 : 1;
}

// Greedy matching that remembers the last "*" and lets it absorb one more character on a
// mismatch: linear in the usual case, never exponential.
bool corestring::wildMatch(const corestring& pattern, bool caseSensitive) const {
  const std::wstring& t = text_;
  const std::wstring& p = pattern.text_;
  const auto same = [caseSensitive](wchar_t a, wchar_t b) {
    return caseSensitive ? a == b : foldCase(a) == foldCase(b);
  };
  size_t ti = 0, pi = 0, star = npos, resume = 0;
  while (ti < t.size()) {
    if (pi < p.size() && p[pi] == L'*') {
      star = pi++;
      resume = ti;
    } else if (pi < p.size() && (p[pi] == L'?' || same(p[pi], t[ti]))) {
      ++ti;
      ++pi;
    } else if (star != npos) {
      pi = star + 1;
      ti = ++resume;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == L'*') ++pi;
  return pi == p.size();
}

size_t corestring::find(const corestring& what, size_t from) const { return text_.find(what.text_, from); }

corestring corestring::substr(size_t pos, size_t count) const {
  if (pos >= text_.size()) return corestring();
  return corestring(text_.substr(pos, count));
}

corestring corestring::trim(const wchar_t* chars) const {
  if (!chars) chars = L" \t\r\n";
  const size_t first = text_.find_first_not_of(chars);
  if (first == npos) return corestring();
  const size_t last = text_.find_last_not_of(chars);
  return corestring(text_.substr(first, last - first + 1));
}

// N separators give N + 1 items, so the empty text is one empty item.
std::vector<corestring> corestring::split(wchar_t separator, bool trimItems, size_t maxCount) const {
  std::vector<corestring> items;
  size_t start = 0;
  for (;;) {
    const bool last = maxCount != 0 && items.size() + 1 == maxCount;
    const size_t end = last ? npos : text_.find(separator, start);
    corestring item(text_.substr(start, end == npos ? npos : end - start));
    items.push_back(trimItems ? item.trim() : std::move(item));
    if (end == npos) break;
    start = end + 1;
  }
  return items;
}

// Not a number gives 0; values beyond the range saturate (see the header).
int32_t corestring::toInt(bool lenient) const {
  const int64_t v = parseInteger(text_, lenient).value_or(0);
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// Negative numbers saturate at INT32_MIN and then keep their 32-bit two's complement, as a
// C cast of the int would ("-1" -> 4294967295, "-9999999999" -> 2147483648).
uint32_t corestring::toUInt(bool lenient) const {
  const int64_t v = parseInteger(text_, lenient).value_or(0);
  if (v > std::numeric_limits<uint32_t>::max()) return std::numeric_limits<uint32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return uint32_t{1} << 31;
  return static_cast<uint32_t>(v);
}

int64_t corestring::toInt64(bool lenient) const { return parseInteger(text_, lenient).value_or(0); }

bool corestring::toBool() const {
  const corestring t = trim();
  for (const wchar_t* word : {L"true", L"yes", L"on"})
    if (t.comparei(word) == 0) return true;
  return parseInteger(t.text_, false).value_or(0) != 0;
}

corestring corestring::lastPath() const {
  const size_t slash = text_.find_last_of(L"\\/");
  return slash == npos ? *this : corestring(text_.substr(slash + 1));
}

// Only a dot inside the final path component counts, and not one that starts it (".profile"
// has no suffix).
corestring corestring::dropSuffix() const {
  const size_t slash = text_.find_last_of(L"\\/");
  const size_t nameStart = slash == npos ? 0 : slash + 1;
  const size_t dot = text_.rfind(L'.');
  if (dot == npos || dot <= nameStart) return *this;
  return corestring(text_.substr(0, dot));
}

corestring& corestring::operator+=(const corestring& other) {
  text_ += other.text_;
  return *this;
}

corestring operator+(const corestring& a, const corestring& b) { return corestring(a.text_ + b.text_); }

}  // namespace CORE
