// The shared UTF-8 codec: one replacement per maximal ill-formed subpart, strict forms, round trips.
#include <gtest/gtest.h>

#include <string>

#include "utf8.h"
#include "varnel/corestring.h"

namespace {

const std::wstring kFffd(1, static_cast<wchar_t>(0xFFFD));

TEST(Utf8Codec, EachMaximalIllFormedSubpartBecomesOneReplacement) {
  struct Case {
    std::string text;
    std::wstring decoded;
  };
  const Case cases[] = {
      {"a\xE2\x82" "b", L"a" + kFffd + L"b"},                 // cut-off 3-byte sequence: one
      {"\xF0\x9F\x98", kFffd},                                 // cut off at the end: one
      {"\x80\xBF", kFffd + kFffd},                             // stray continuation bytes: one each
      {"\xC0\xAF", kFffd + kFffd},                             // overlong lead: each byte
      {"\xE0\x80\x80", kFffd + kFffd + kFffd},                 // overlong 3-byte form: each byte
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},                 // encoded surrogate: each byte
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},     // above U+10FFFF: each byte
      {"\xE2\x82\xAC\xFF", std::wstring(1, L'\x20AC') + kFffd},  // the euro sign, then a bad byte
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf8::decode(c.text), c.decoded) << testing::PrintToString(c.text);
    EXPECT_FALSE(utf8::decodeStrict(c.text).has_value()) << testing::PrintToString(c.text);
    // The framework's strings decode with the same rule.
    EXPECT_EQ(CORE::corestring::fromUtf8(c.text).str(), c.decoded) << testing::PrintToString(c.text);
  }
}

TEST(Utf8Codec, WellFormedTextRoundTripsInBothForms) {
  const std::string text = "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80";
  const std::wstring wide = utf8::decode(text);
  EXPECT_EQ(utf8::decodeStrict(text), wide);
  EXPECT_EQ(utf8::encode(wide), text);
  EXPECT_EQ(utf8::encodeStrict(wide), text);
  EXPECT_EQ(wide.size(), sizeof(wchar_t) == 2 ? 9u : 8u);  // the emoji is a surrogate pair in UTF-16
}

TEST(Utf8Codec, ValuesThatAreNoCodePointFailStrictEncodingAndAreReplacedOtherwise) {
  const std::wstring lone(1, static_cast<wchar_t>(0xD800));
  EXPECT_FALSE(utf8::encodeStrict(L"x" + lone).has_value());
  EXPECT_EQ(utf8::encode(L"x" + lone), "x\xEF\xBF\xBD");
}

}  // namespace
