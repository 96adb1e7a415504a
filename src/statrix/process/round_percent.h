// The whole-number form of a percentage held as a float, as logged, published and replied.
#pragma once
#include <cstdint>

// Rounds up from .35 on (value + 0.65, truncated), keeping the low 32 bits: 89.25 gives 89,
// 89.375 gives 90. Computed in double precision so that the float's exact value decides.
constexpr uint32_t roundPercent(float percent) {
  return static_cast<uint32_t>(static_cast<int64_t>(static_cast<double>(percent) + 0.65));
}
