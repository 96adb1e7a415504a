// formatPercent: "N/A" for no share, else the value with one decimal.
#include "process/format_percent.h"

#include <cstdio>

CORE::corestring formatPercent(float percent) {
  if (percent == 0.0f) return L"N/A";
  // A 32-character buffer; snprintf cuts a longer text (a huge value) at its end.
  char text[32];
  std::snprintf(text, sizeof text, "%3.1f", static_cast<double>(percent));
  return CORE::corestring::fromUtf8(text);
}
