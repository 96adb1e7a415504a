// Registry value names, paths and data of published metric values.
#include "metrics/publication_names.h"

#include "metrics/metric_definition.h"

CORE::corestring publicationValueName(const CORE::corestring& counter) {
  std::wstring name;
  name.reserve(counter.length() + 8);
  for (const wchar_t c : counter.str()) {
    if (c == L'/') {
      name += L" per ";
    } else {
      name += c;
    }
  }
  return CORE::corestring(std::move(name));
}

CORE::corestring publicationPath(const CORE::corestring& counter) {
  return CORE::corestring(L"HKLM") + L"\\" + L"Software\\Vantrel\\Orvane" + L"\\Performance Stats\\" +
         publicationValueName(counter);
}

uint32_t publishedNumber(double value) { return static_cast<uint32_t>(truncateMetricValue(value)); }
