// Growth of a time counter between two readings, in modular arithmetic so that no sum overflows.
#pragma once
#include <cstdint>
#include <limits>

// Sums of time counters are kept modulo 2^64: a counter the system caps at its maximum (or a
// sum of many large ones) then wraps instead of overflowing, and the difference of two readings
// is still the growth in between. A difference beyond 2^63 means the counter went down (an
// earlier process instance, a reset): no growth.
constexpr int64_t counterGrowth(uint64_t now, uint64_t before) {
  const uint64_t grown = now - before;
  return grown <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? static_cast<int64_t>(grown) : 0;
}

// The sum of two signed counters in the modular form above.
constexpr uint64_t counterSum(int64_t a, int64_t b) { return static_cast<uint64_t>(a) + static_cast<uint64_t>(b); }
