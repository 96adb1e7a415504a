// Parsing and formatting of registry value files.
#include "advapi32/registry_format.h"

#include "common/wide_text.h"

namespace winapi_linux::registry_format {
namespace {

constexpr std::string_view kDword = "dword:";
constexpr std::string_view kMultiSz = "multi_sz:";
constexpr std::string_view kSz = "sz:";

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view dropTrailingNewline(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return text;
}

std::optional<Value> parseDword(std::string_view text) {
  text = trim(text);
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  if (number > UINT32_MAX) return std::nullopt;
  Value value;
  value.type = REG_DWORD;
  value.number = static_cast<DWORD>(number);
  return value;
}

std::optional<Value> parseMultiSz(std::string_view text) {
  if (!text.empty()) {
    if (text.front() != '\n') return std::nullopt;
    text.remove_prefix(1);
  }
  Value value;
  value.type = REG_MULTI_SZ;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty()) continue;  // a MULTI_SZ item cannot be empty
    auto item = wide_text::fromUtf8(line);
    if (!item) return std::nullopt;
    value.items.push_back(std::move(*item));
  }
  return value;
}

std::optional<Value> parseSz(std::string_view text) {
  auto wide = wide_text::fromUtf8(dropTrailingNewline(text));
  if (!wide) return std::nullopt;
  Value value;
  value.text = std::move(*wide);
  return value;
}

}  // namespace

std::optional<Value> parse(std::string_view content) {
  if (content.starts_with(kDword)) return parseDword(content.substr(kDword.size()));
  if (content.starts_with(kMultiSz)) return parseMultiSz(content.substr(kMultiSz.size()));
  if (content.starts_with(kSz)) return parseSz(content.substr(kSz.size()));
  return parseSz(content);
}

std::optional<std::string> format(const Value& value) {
  switch (value.type) {
    case REG_DWORD:
      return std::string(kDword) + std::to_string(value.number) + "\n";
    case REG_MULTI_SZ: {
      std::string out(kMultiSz);
      out += '\n';
      for (const std::wstring& item : value.items) {
        if (item.empty() || item.find(L'\n') != std::wstring::npos) return std::nullopt;
        auto utf8 = wide_text::toUtf8(item);
        if (!utf8) return std::nullopt;
        out += *utf8;
        out += '\n';
      }
      return out;
    }
    case REG_SZ: {
      auto utf8 = wide_text::toUtf8(value.text);
      if (!utf8) return std::nullopt;
      // Text that looks like a typed value is marked as text so it reads back unchanged.
      std::string_view text = *utf8;
      bool mark = text.starts_with(kDword) || text.starts_with(kMultiSz) || text.starts_with(kSz);
      return (mark ? std::string(kSz) : std::string()) + *utf8 + "\n";
    }
    default:
      return std::nullopt;
  }
}

}  // namespace winapi_linux::registry_format
