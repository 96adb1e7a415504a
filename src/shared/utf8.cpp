// UTF-8 <-> wide text conversion, written once for both wchar_t widths and both error policies.
#include "utf8.h"

#include <type_traits>

namespace utf8 {
namespace {

constexpr bool isSurrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }
constexpr bool isCodePoint(char32_t cp) { return cp <= 0x10FFFF && !isSurrogate(cp); }

void appendUtf8(std::string& out, char32_t cp) {
  if (!isCodePoint(cp)) cp = kReplacement;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

constexpr char32_t kIllFormed = 0xFFFFFFFF;

// Decodes the sequence starting at text[i]; on return i is past what was consumed. A bad
// sequence (kIllFormed) consumes its lead byte and the continuation bytes that were still
// acceptable: its maximal subpart.
char32_t decodeOne(std::string_view text, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i++);
  if (lead < 0x80) return lead;
  int extra;
  char32_t cp;
  // Bounds of the second byte exclude overlong forms, surrogates and values above U+10FFFF.
  unsigned char lo = 0x80, hi = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    return kIllFormed;
  }
  for (int n = 0; n < extra; ++n) {
    if (i >= text.size()) return kIllFormed;
    const unsigned char b = byte(i);
    if (b < lo || b > hi) return kIllFormed;
    lo = 0x80;
    hi = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
    ++i;
  }
  return cp;
}

}  // namespace

void appendCodePoint(std::wstring& out, char32_t cp) {
  if (!isCodePoint(cp)) cp = kReplacement;
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (cp >> 10));
      out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
      return;
    }
  }
  out += static_cast<wchar_t>(cp);
}

std::wstring decode(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const char32_t cp = decodeOne(text, i);
    appendCodePoint(out, cp == kIllFormed ? kReplacement : cp);
  }
  return out;
}

std::optional<std::wstring> decodeStrict(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const char32_t cp = decodeOne(text, i);
    if (cp == kIllFormed) return std::nullopt;
    appendCodePoint(out, cp);
  }
  return out;
}

namespace {

// Reads the code point at text[i] (a surrogate pair where wchar_t has 2 bytes) and moves i
// past it; a value that is no code point comes back as it is.
char32_t nextCodePoint(std::wstring_view text, size_t& i) {
  // Through an unsigned type: wchar_t is signed on Linux.
  char32_t cp = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[i++]));
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0xD800 && cp <= 0xDBFF && i < text.size()) {
      const char32_t low = static_cast<char16_t>(text[i]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
  }
  return cp;
}

}  // namespace

std::string encode(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) appendUtf8(out, nextCodePoint(text, i));
  return out;
}

std::optional<std::string> encodeStrict(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const char32_t cp = nextCodePoint(text, i);
    if (!isCodePoint(cp)) return std::nullopt;
    appendUtf8(out, cp);
  }
  return out;
}

}  // namespace utf8
