// English-to-local counter names (the system's English index list and PDH's lookup) and counter paths.
#pragma once
#include <cstdint>
#include <map>
#include <vector>

#include "metrics/metric_definition.h"
#include "metrics/pdh_functions.h"

// English name -> index, ordinal order.
using CounterNameIndex = std::map<CORE::corestring, int32_t>;

// Registry value holding the system's English list: index, name, index, name, ... (multi-string).
inline constexpr const wchar_t* kEnglishCounterListPath =
    L"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009\\Counter";

// Parses the list as read from the registry (items separated by NUL characters). An odd last
// item is ignored; a name listed twice keeps its last index.
CounterNameIndex parseCounterNameIndex(const CORE::corestring& list);

// The index built from the registry when the library was loaded; never changed afterwards, so
// it is read without a lock.
const CounterNameIndex& englishCounterIndex();
// Test seam: rebuilds the index from the registry as it is now (a test that installs its own
// English list calls this before anything else of the metric engine runs).
void reloadEnglishCounterIndexForTesting();

// The names of a multi-string buffer of `length` characters, up to the first empty name. Never
// reads past `length`, even when the buffer lacks its terminators.
std::vector<CORE::corestring> parseMultiString(const wchar_t* buffer, size_t length);

// The system's name for an English object or counter name. Callers pre-fill `output` with the
// English name; a name without an index stays as it is. False, with `output` untouched and an
// Error logged, when PDH fails the lookup.
bool localizeCounterName(const PdhFunctions& pdh, const CounterNameIndex& index, const CORE::corestring& name,
                         CORE::corestring& output);

// "\object(instance)\counter", or "\object\counter" without an instance; no machine name.
CORE::corestring formatCounterPath(const CORE::corestring& object, const CORE::corestring& instance,
                                   const CORE::corestring& counter);

// The path of a definition in the system's language: object and counter localised (a failed
// lookup keeps the English name), the instance unchanged.
CORE::corestring buildCounterPath(const PdhFunctions& pdh, const CounterNameIndex& index,
                                  const MetricDefinition& definition);
