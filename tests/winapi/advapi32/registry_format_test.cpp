// The registry's pure parts on literal text: value files, Win32 data blobs and file names.
#include <gtest/gtest.h>

#include <cstring>

#include "advapi32/registry_data.h"
#include "advapi32/registry_format.h"
#include "advapi32/registry_names.h"

namespace winapi_linux {
namespace {

using registry_format::format;
using registry_format::parse;
using registry_format::Value;

Value sz(std::wstring text) { return Value{REG_SZ, std::move(text), 0, {}}; }
Value dword(DWORD number) { return Value{REG_DWORD, {}, number, {}}; }
Value multi(std::vector<std::wstring> items) { return Value{REG_MULTI_SZ, {}, 0, std::move(items)}; }

// dword: is decimal within 32 bits, multi_sz: one item per line, everything else is text with
// one trailing newline dropped.
TEST(ValueFile, ParseReadsTypedFormsAndText) {
  const std::pair<const char*, Value> cases[] = {
      {"dword:42\n", dword(42)},
      {"dword:4294967295", dword(4294967295u)},
      {"dword: 007 \r\n", dword(7)},  // white space of a hand edit
      {"multi_sz:\nalpha\nbeta\n", multi({L"alpha", L"beta"})},
      {"multi_sz:\nalpha\n\nbeta", multi({L"alpha", L"beta"})},  // empty lines are no items
      {"multi_sz:\n", multi({})},
      {"multi_sz:", multi({})},
      {"hello", sz(L"hello")},
      {"two\nlines\n\n", sz(L"two\nlines\n")},
      {"", sz(L"")},
      {"DWORD:5\n", sz(L"DWORD:5")},  // type prefixes are lower case
      {"caf\xC3\xA9 \xE2\x82\xAC\n", sz(L"café €")},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(parse(text), value) << text;
}

TEST(ValueFile, MalformedNumbersListsAndUtf8AreErrorsNotText) {
  for (const char* bad : {"dword:abc", "dword:99999999999", "dword:4294967296", "dword:", "dword:-1", "dword:0x10",
                          "dword:12abc", "dword:1 2", "multi_sz:abc\n", "\xFF\xFE", "overlong \xC0\xAF",
                          "surrogate \xED\xA0\x80", "cut \xE2\x82", "\xF4\x90\x80\x80 above U+10FFFF", "sz:\x80",
                          "multi_sz:\nok\n\xC3\n"})
    EXPECT_EQ(parse(bad), std::nullopt) << bad;
}

TEST(ValueFile, FormatRefusesWhatTheFileCannotHold) {
  EXPECT_EQ(format(multi({L"one", L"two\nlines"})), std::nullopt);
  EXPECT_EQ(format(multi({L"one", L""})), std::nullopt);
  EXPECT_EQ(format(sz(std::wstring(1, static_cast<wchar_t>(0xD800)))), std::nullopt);
  EXPECT_EQ(format(Value{REG_BINARY, {}, 0, {}}), std::nullopt);
}

// Typed forms, "sz:" before text that looks typed, and every value reads back unchanged.
TEST(ValueFile, FormatWritesTypedFormsThatReadBackUnchanged) {
  const std::pair<Value, const char*> cases[] = {
      {dword(42), "dword:42\n"},
      {sz(L"hello"), "hello\n"},
      {sz(L"dword:5"), "sz:dword:5\n"},
      {sz(L"multi_sz:"), "sz:multi_sz:\n"},
      {sz(L"sz:"), "sz:sz:\n"},
      {sz(L"newline\n"), "newline\n\n"},
      {sz(L"\n\n"), "\n\n\n"},
      {sz(L" padded\t"), " padded\t\n"},
      {multi({L"% Idle Time", L"\u00dcn\u00efcode"}), "multi_sz:\n% Idle Time\n\xC3\x9C" "n\xC3\xAF" "code\n"},
      {multi({}), "multi_sz:\n"},
  };
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(format(value), text);
    EXPECT_EQ(parse(text), value) << text;
  }
}

std::vector<BYTE> bytes(std::wstring_view text) {
  std::vector<BYTE> out(text.size() * sizeof(wchar_t));
  std::memcpy(out.data(), text.data(), out.size());
  return out;
}

std::optional<Value> fromText(DWORD type, std::wstring_view text) {
  std::vector<BYTE> b = bytes(text);
  return registry_data::fromBytes(type, b.data(), static_cast<DWORD>(b.size()));
}

TEST(ValueData, StoredDataIsReadUpToItsTerminatorsAndOddDataIsRefused) {
  EXPECT_EQ(fromText(REG_SZ, std::wstring_view(L"abc\0junk", 8)), sz(L"abc"));
  EXPECT_EQ(fromText(REG_EXPAND_SZ, L"%TEMP%"), sz(L"%TEMP%")) << "kept as REG_SZ";
  EXPECT_EQ(fromText(REG_MULTI_SZ, std::wstring_view(L"a\0\0b\0\0", 6)), multi({L"a"})) << "an empty item ends it";
  EXPECT_EQ(fromText(REG_MULTI_SZ, std::wstring_view(L"a\0b", 3)), multi({L"a", L"b"}));
  BYTE data[8] = {};
  EXPECT_EQ(registry_data::fromBytes(REG_DWORD, data, 3), std::nullopt);
  EXPECT_EQ(registry_data::fromBytes(REG_BINARY, data, 8), std::nullopt);
  EXPECT_EQ(registry_data::fromBytes(REG_SZ, nullptr, 4), std::nullopt);
  // RegSetValueExW takes bytes: the caller's buffer need not be aligned for wide characters.
  std::vector<BYTE> odd(1 + 4 * sizeof(wchar_t));
  std::memcpy(odd.data() + 1, L"a\0b\0", 4 * sizeof(wchar_t));
  EXPECT_EQ(registry_data::fromBytes(REG_SZ, odd.data() + 1, 4 * sizeof(wchar_t)), sz(L"a"));
  EXPECT_EQ(registry_data::fromBytes(REG_MULTI_SZ, odd.data() + 1, 4 * sizeof(wchar_t)), multi({L"a", L"b"}));
}

TEST(FileNames, OnlyWhatAFileNameCannotHoldIsEscaped) {
  EXPECT_EQ(registry_names::encode("% Processor Time"), "% Processor Time");
  EXPECT_EQ(registry_names::encode("Avg. Disk sec/Read"), "Avg. Disk sec%2FRead");
  EXPECT_EQ(registry_names::encode(".."), "%2E.");
  EXPECT_EQ(registry_names::encode("100%2F"), "100%252F") << "a literal escape is escaped";
  EXPECT_EQ(registry_names::decode("Disk Reads%2fsec"), "Disk Reads/sec") << "hand-made lower-case escape";
  EXPECT_TRUE(registry_names::isHidden(".CpuPercentage.swp"));
}

TEST(FileNames, DecodingInvertsEncodingAndNothingEscapesTheDirectory) {
  for (const char* name : {"plain", "a/b/c", ".", "..", ".x", "", "%2F", "%2f", "%25", "%2E", "%00", "x%00y", "%",
                           "%%2F", "a%2", "/..", "../../etc"}) {
    std::string encoded = registry_names::encode(name);
    EXPECT_EQ(encoded.find('/'), std::string::npos) << name;
    EXPECT_FALSE(registry_names::isHidden(encoded)) << name;
    EXPECT_EQ(registry_names::decode(encoded), name) << encoded;
  }
}

TEST(FileNames, NamesCompareCaseInsensitivelyBeyondAscii) {
  EXPECT_TRUE(registry_names::sameName(L"CpuPercentage", L"CPUPERCENTAGE"));
  EXPECT_TRUE(registry_names::sameName(L"Ärger", L"ärger"));
  EXPECT_FALSE(registry_names::sameName(L"Cpu", L"Cpus"));
}

}  // namespace
}  // namespace winapi_linux
