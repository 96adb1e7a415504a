// Counter values from procfs snapshots: the raw sample of one counter instance, the instance
// lists of the objects, and the displayed value computed from two samples as PDH does.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "advapi32/perf_catalog.h"
#include "pdh/perf_sources.h"
#include "winapi.h"

namespace winapi_linux::perf {

// Cumulative or current figures of one instance; the meaning of a and b depends on the formula.
struct RawSample {
  uint64_t a = 0, b = 0;
  uint64_t timeNs = 0;  // when the collection was made, on a monotonic clock
};

// The sample of `field` for `instance` (empty for an object without instances): nullopt with
// `status` PDH_CSTATUS_NO_INSTANCE when the instance is not there, PDH_CSTATUS_INVALID_DATA
// when its source could not be read.
LAYER_VISIBLE std::optional<RawSample> extractSample(Field field, const Snapshot& snapshot,
                                                     std::wstring_view instance, DWORD& status);

// The instance names of an object in this snapshot ("_Total" last where the object has one).
LAYER_VISIBLE std::vector<std::wstring> instanceNames(ObjectId object, const Snapshot& snapshot);

// A device name as an instance name: characters that have a meaning in counter paths are
// replaced as PDH replaces them ("(" → "[", ")" → "]", "#", "/" and "\" → "_").
LAYER_VISIBLE std::wstring instanceName(std::string_view deviceName);

struct Computed {
  DWORD status = PDH_CSTATUS_INVALID_DATA;  // a PDH counter status
  double value = 0;
};
// The displayed value from the previous and the current sample. Rates and averages need both;
// figures that went backwards (a wrap, a reset) and a clock that did not advance are invalid data.
LAYER_VISIBLE Computed computeValue(const CounterDef& counter, const std::optional<RawSample>& previous,
                                    const RawSample& current);

}  // namespace winapi_linux::perf
