// Fuzzes the metric engine's pure handling of outside text: "configPerfmonMetrics" requests on
// the metric table, the English counter list, multi-string buffers, wildcard expansion, keys,
// counter paths and publication names and numbers.
//
// Input: UTF-8 lines. Line 1 is the plug-in name; every further line is one "statrixMetrics"
// entry "isAdd|name|object|counter|instance|session|type|scale" (missing fields are left out of
// the entry). The whole input also serves as the English list (lines as its NUL-separated
// items), as a raw multi-string buffer and as the lists a "*" entry is expanded over.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "metrics/counter_expansion.h"
#include "metrics/counter_names.h"
#include "metrics/metric_table.h"
#include "metrics/publication_names.h"
#include "varnel/host_control.h"

namespace {

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == separator) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

CORE::corestring wide(std::string_view utf8) { return CORE::corestring::fromUtf8(utf8); }

CORE::PropertyBag entryFrom(std::string_view line) {
  static const wchar_t* const kStrings[] = {L"strMetricName", L"strCounterObject", L"strCounter", L"strInstance"};
  const auto fields = split(line, '|');
  CORE::PropertyBag entry;
  if (!fields.empty()) entry.addBool(L"isAdd", fields[0] == "1");
  for (size_t i = 0; i < 4 && i + 1 < fields.size(); ++i) entry.add(kStrings[i], wide(fields[i + 1]));
  if (fields.size() > 5) entry.add(L"bSessionRelated", wide(fields[5]));
  if (fields.size() > 6) entry.add(L"dwType", wide(fields[6]));
  if (fields.size() > 7) entry.add(L"dwScale", wide(fields[7]));
  return entry;
}

void checkDefinition(const MetricDefinition& d, const std::vector<CORE::corestring>& names) {
  const CORE::corestring key = counterKey(d);
  size_t carets = 0;
  for (wchar_t c : key.str()) carets += c == L'^' ? 1 : 0;
  if (carets < 5) std::abort();
  // The published name is one registry value: no backslash (a key separator) survives in it.
  if (publicationValueName(d.strCounter).find(L"\\") != CORE::corestring::npos) std::abort();
  const CORE::corestring path = formatCounterPath(d.strCounterObject, d.strInstance, d.strCounter);
  if (path.empty() || path.str()[0] != L'\\') std::abort();
  const auto expanded = expandDefinition(d, names, names);
  if (expanded.size() > names.size() * names.size()) std::abort();
  for (const MetricDefinition& concrete : expanded) {
    if (concrete.dwScale != 1 || concrete.strCounterObject != d.strCounterObject) std::abort();
    if (concrete.strMetricName.empty() && !d.strMetricName.empty()) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CORE::setLogLevel(5);  // the table's Debug lines are not the point here
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto lines = split(text, '\n');

  CORE::PropertyBag request;
  request.add(L"plugin_name", wide(lines[0]));
  for (size_t i = 1; i < lines.size(); ++i) request.addBag(L"statrixMetrics", entryFrom(lines[i]), true);
  MetricTable table;
  table.applyMetricRequests(request);
  table.applyMetricRequests(request);  // the same request again: removes and repeats

  // The input as the English list and as a raw multi-string buffer.
  std::wstring list;
  for (const auto line : lines) list += wide(line).str() + L'\0';
  const CounterNameIndex index = parseCounterNameIndex(CORE::corestring(list));
  size_t items = 1;
  for (wchar_t c : list) items += c == L'\0' ? 1 : 0;
  if (index.size() > items / 2) std::abort();
  std::vector<wchar_t> raw(size / sizeof(wchar_t));
  if (!raw.empty()) std::memcpy(raw.data(), data, raw.size() * sizeof(wchar_t));
  const auto names = parseMultiString(raw.data(), raw.size());
  if (names.size() > raw.size()) std::abort();

  std::vector<CORE::corestring> lineNames;
  for (const auto line : lines) lineNames.push_back(wide(line));
  // Expansion multiplies: a few names and definitions reach every branch and keep runs fast.
  if (lineNames.size() > 8) lineNames.resize(8);
  size_t checked = 0;
  for (const MetricDefinition& d : table.definitions()) {
    if (++checked > 8) break;
    checkDefinition(d, lineNames);
  }

  double value = 0;
  if (size >= sizeof value) std::memcpy(&value, data, sizeof value);
  // Above a DWORD the published figure saturates; below, its low 32 bits are published.
  const int64_t whole = truncateMetricValue(value);
  const uint32_t expected = whole > int64_t{UINT32_MAX} ? UINT32_MAX : static_cast<uint32_t>(static_cast<uint64_t>(whole));
  if (publishedNumber(value) != expected) std::abort();
  return 0;
}
