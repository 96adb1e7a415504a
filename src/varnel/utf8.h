// UTF-8 <-> wide text (UTF-16 where wchar_t has 2 bytes, UTF-32 where it has 4).
#pragma once
#include <string>
#include <string_view>

namespace CORE::utf8 {

inline constexpr char32_t kReplacement = 0xFFFD;

// Invalid input (stray bytes, overlong forms, surrogates, values above U+10FFFF, cut-off
// sequences) becomes U+FFFD: one per maximal ill-formed part, as Unicode recommends.
std::wstring decode(std::string_view text);
// Lone surrogates (UTF-16) and values that are no code point (UTF-32) become U+FFFD.
std::string encode(std::wstring_view text);
// Appends one code point in the platform's wide form (U+FFFD for a non-character value).
void appendCodePoint(std::wstring& out, char32_t cp);

}  // namespace CORE::utf8
