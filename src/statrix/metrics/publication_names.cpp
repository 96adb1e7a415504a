// Registry value names, paths and data of published metric values.
#include "metrics/publication_names.h"

#include "metrics/metric_definition.h"

CORE::corestring publicationValueName(const CORE::corestring& counter) {
  std::wstring name;
  name.reserve(counter.length() + 8);
  for (const wchar_t c : counter.str()) {
    if (c == L'/') {
      name += L" per ";
    } else if (c == L'\\') {
      // The host takes the path's last component as the value name: a backslash would turn the
      // rest of the counter name into keys under "Performance Stats" (and on the file-backed
      // registry a key directory shadows the value of the same name for good). The name stays
      // one value, with the backslash shown as a slash.
      name += L'/';
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

uint32_t publishedNumber(double value) {
  const int64_t whole = truncateMetricValue(value);
  // A DWORD cannot hold 4 GiB and more: such a figure reads as the largest DWORD rather than
  // wrapping to a small, plausible-looking number.
  if (whole > int64_t{UINT32_MAX}) return UINT32_MAX;
  return static_cast<uint32_t>(whole);
}
