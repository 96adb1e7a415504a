// Conversions from procfs clock ticks and Unix seconds to the 100 ns units of the NT API.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <limits>

namespace winapi_linux {

inline constexpr int64_t kNtTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
inline constexpr int64_t kFiletimeToUnixSeconds = 11'644'473'600;

inline uint64_t saturatingAdd(uint64_t a, uint64_t b) {
  return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max() : a + b;
}

// USER_HZ, fixed for the life of the process.
inline long clockTicksPerSecond() {
  static const long hz = [] {
    long v = ::sysconf(_SC_CLK_TCK);
    return v > 0 ? v : 100;
  }();
  return hz;
}

// ticks × 10^7 / hz without overflowing the product; saturates at the largest time.
inline int64_t ticksToNtTime(uint64_t ticks, uint64_t hz = static_cast<uint64_t>(clockTicksPerSecond())) {
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  uint64_t seconds = ticks / hz;
  if (seconds > kMax / kNtTicksPerSecond - 1) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(seconds * kNtTicksPerSecond + (ticks % hz) * kNtTicksPerSecond / hz);
}

// FILETIME (100 ns since 1601) of a Unix time plus a number of clock ticks after it.
inline int64_t unixTimeToFiletime(uint64_t unixSeconds, uint64_t ticksAfter) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  if (unixSeconds > static_cast<uint64_t>(kMax / kNtTicksPerSecond - kFiletimeToUnixSeconds)) return kMax;
  int64_t base = (static_cast<int64_t>(unixSeconds) + kFiletimeToUnixSeconds) * kNtTicksPerSecond;
  int64_t after = ticksToNtTime(ticksAfter);
  return after > kMax - base ? kMax : base + after;
}

}  // namespace winapi_linux
