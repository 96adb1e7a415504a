// The whole-number form of a percentage held as a float, as logged, published and replied.
#pragma once
#include <cstdint>

// value + 0.65, truncated, keeping the low 32 bits: 89.25 gives 89, 89.375 gives 90. Computed
// in double precision from the float's exact value, so a fraction of exactly .35 rounds up
// only when the float holds at least .35: 0.35f (0.3499999940...) gives 0, 0.375f gives 1.
constexpr uint32_t roundPercent(float percent) {
  return static_cast<uint32_t>(static_cast<int64_t>(static_cast<double>(percent) + 0.65));
}
