// The English counter index built at load, name lookup by index through PDH, and counter paths.
#include "metrics/counter_names.h"

#include <cwchar>
#include <new>

#include "frame/log.h"

namespace {

// PDH names are short (a whole counter path is limited to a few thousand characters); a larger
// size reported by the lookup is not believed.
constexpr DWORD kMaxNameLength = 65536;

CounterNameIndex loadEnglishCounterIndex() {
  return parseCounterNameIndex(CORE::corestring::readRegistry(kEnglishCounterListPath, L"", false));
}

// Built during static initialisation of the library, before any request can arrive.
CounterNameIndex englishIndex = loadEnglishCounterIndex();

}  // namespace

CounterNameIndex parseCounterNameIndex(const CORE::corestring& list) {
  CounterNameIndex index;
  const std::vector<CORE::corestring> parts = list.split(L'\0', false);
  const size_t pairs = parts.size() / 2;
  for (size_t i = 0; i < pairs; ++i) index[parts[2 * i + 1]] = parts[2 * i].toInt(true);
  return index;
}

const CounterNameIndex& englishCounterIndex() { return englishIndex; }

void reloadEnglishCounterIndexForTesting() { englishIndex = loadEnglishCounterIndex(); }

std::vector<CORE::corestring> parseMultiString(const wchar_t* buffer, size_t length) {
  std::vector<CORE::corestring> names;
  if (buffer == nullptr) return names;
  size_t pos = 0;
  while (pos < length && buffer[pos] != L'\0') {
    size_t end = pos;
    while (end < length && buffer[end] != L'\0') ++end;
    names.emplace_back(buffer + pos, end - pos);
    pos = end + 1;
  }
  return names;
}

bool localizeCounterName(const PdhFunctions& pdh, const CounterNameIndex& index, const CORE::corestring& name,
                         CORE::corestring& output) {
  const auto found = index.find(name);
  if (found == index.end()) {
    output = name;
    return true;
  }
  const auto number = static_cast<DWORD>(found->second);
  DWORD size = 0;
  PDH_STATUS status = pdh.lookupPerfNameByIndex(nullptr, number, nullptr, &size);
  if (status == 0) {
    output = name;
    return true;
  }
  if (!isStatus(status, PDH_MORE_DATA)) {
    LogMessage(CORE::Error, L"Failed to lookup counter %s get name buffer size failed. error: 0x%x", name,
               static_cast<uint32_t>(status));
    return false;
  }
  if (size > kMaxNameLength) {
    LogMessage(CORE::Error, L"Failed to lookup counter name. error: 0x%x",
               static_cast<uint32_t>(PDH_INSUFFICIENT_BUFFER));
    return false;
  }
  // One spare character keeps the text terminated whatever the call writes.
  std::vector<wchar_t> buffer(static_cast<size_t>(size) + 1, L'\0');
  DWORD capacity = size;
  status = pdh.lookupPerfNameByIndex(nullptr, number, buffer.data(), &capacity);
  if (status != 0) {
    LogMessage(CORE::Error, L"Failed to lookup counter name. error: 0x%x", static_cast<uint32_t>(status));
    return false;
  }
  output = CORE::corestring(buffer.data(), wcsnlen(buffer.data(), buffer.size()));
  return true;
}

CORE::corestring formatCounterPath(const CORE::corestring& object, const CORE::corestring& instance,
                                   const CORE::corestring& counter) {
  if (instance.empty()) return L"\\" + object + L"\\" + counter;
  return L"\\" + object + L"(" + instance + L")\\" + counter;
}

CORE::corestring buildCounterPath(const PdhFunctions& pdh, const CounterNameIndex& index,
                                  const MetricDefinition& definition) {
  CORE::corestring object = definition.strCounterObject;
  CORE::corestring counter = definition.strCounter;
  localizeCounterName(pdh, index, definition.strCounterObject, object);
  localizeCounterName(pdh, index, definition.strCounter, counter);
  return formatCounterPath(object, definition.strInstance, counter);
}
