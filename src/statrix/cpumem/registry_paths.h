// Registry locations of the watch: the alarm settings key and the published statistics.
#pragma once
#include "well_known_names.h"

namespace registry_paths {

inline constexpr const wchar_t* kAlarmSettingsKey = well_known::kAlarmSettingsKey;
inline constexpr const wchar_t* kCpuPercentageValue =
    L"HKLM\\Software\\Vantrel\\Orvane\\Performance Stats\\CpuPercentage";
inline constexpr const wchar_t* kMemoryPercentageValue =
    L"HKLM\\Software\\Vantrel\\Orvane\\Performance Stats\\MemoryPercentage";

}  // namespace registry_paths
