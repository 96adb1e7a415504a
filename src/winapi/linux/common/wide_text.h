// The layer's wide strings (UTF-32 wchar_t) to and from UTF-8 file-system text, through the shared codec.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "utf8.h"

namespace winapi_linux::wide_text {

// nullopt for a value that is no Unicode scalar value (surrogates, above U+10FFFF).
inline std::optional<std::string> toUtf8(std::wstring_view text) { return utf8::encodeStrict(text); }
// nullopt for ill-formed UTF-8 (stray or missing continuation bytes, overlong forms, surrogates,
// values above U+10FFFF).
inline std::optional<std::wstring> fromUtf8(std::string_view text) { return utf8::decodeStrict(text); }
// As fromUtf8, with U+FFFD for each maximal ill-formed subpart (the codec's one rule).
inline std::wstring fromUtf8Lossy(std::string_view text) { return utf8::decode(text); }
// A NUL-terminated wide string as a view; empty for null.
inline std::wstring_view view(const wchar_t* text) { return text ? std::wstring_view(text) : std::wstring_view(); }

}  // namespace winapi_linux::wide_text
