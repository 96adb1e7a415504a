// Where and as what a metric value is published in the registry.
#pragma once
#include <cstdint>

#include "frame/host/host.h"

// The registry value name of a counter: every "/" becomes " per " ("Pages Input/sec" ->
// "Pages Input per sec").
CORE::corestring publicationValueName(const CORE::corestring& counter);

// "HKLM\Software\Vantrel\Orvane\Performance Stats\<value name>".
CORE::corestring publicationPath(const CORE::corestring& counter);

// The REG_DWORD data of a value: truncated toward zero to 64 bits (saturating, NaN as 0); above
// 4294967295 it saturates at 4294967295, a negative number gives its low 32 bits (so -1.5 is
// published as 4294967295).
uint32_t publishedNumber(double value);
