// UTF-8 <-> wide text (UTF-16 where wchar_t has 2 bytes, UTF-32 where it has 4), one codec for
// the framework library and the Linux layer.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace utf8 {

inline constexpr char32_t kReplacement = 0xFFFD;

// Ill-formed input (stray bytes, overlong forms, surrogates, values above U+10FFFF, cut-off
// sequences) becomes U+FFFD, one per maximal subpart: the longest start of a well-formed
// sequence, or else one byte. So "a\xE2\x82b" gives three characters, "a", U+FFFD and "b".
std::wstring decode(std::string_view text);
// As decode, but nullopt for any ill-formed input.
std::optional<std::wstring> decodeStrict(std::string_view text);
// Lone surrogates (UTF-16) and values that are no code point (UTF-32) become U+FFFD.
std::string encode(std::wstring_view text);
// As encode, but nullopt for any value that is no Unicode scalar value.
std::optional<std::string> encodeStrict(std::wstring_view text);
// Appends one code point in the platform's wide form (U+FFFD for a non-character value).
void appendCodePoint(std::wstring& out, char32_t cp);

}  // namespace utf8
