// Native system-information constants and the processor-time entry layout, read safely from raw buffers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "frame/host/host.h"

// The layouts below are those of the 64-bit system; the module is only built for it.
static_assert(sizeof(void*) == 8, "the native layouts read here are the 64-bit ones");

namespace nt {

// Own names for the constants: the platform headers define some of them as macros and others
// not at all.
constexpr ULONG kProcessInformationClass = 5;              // process snapshot
constexpr ULONG kProcessorPerformanceClass = 8;            // per-processor times
constexpr LONG kStatusSuccess = 0;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004u);

// Reads a field of type T at `offset` bytes into a query buffer. The buffers come from the
// system as bytes, so fields are copied out rather than read through a cast pointer.
template <class T>
inline T readAt(const std::byte* base, size_t offset) {
  T value;
  std::memcpy(&value, base + offset, sizeof(T));
  return value;
}

// One processor's entry of the per-processor times, as the system lays it out.
struct ProcessorTimesLayout {
  int64_t IdleTime;    // 100 ns
  int64_t KernelTime;  // 100 ns, includes IdleTime
  int64_t UserTime;    // 100 ns
  int64_t Reserved1[2];
  uint32_t Reserved2;
  uint32_t Padding;
};
static_assert(sizeof(ProcessorTimesLayout) == 48);
static_assert(offsetof(ProcessorTimesLayout, IdleTime) == 0);
static_assert(offsetof(ProcessorTimesLayout, KernelTime) == 8);
static_assert(offsetof(ProcessorTimesLayout, UserTime) == 16);

}  // namespace nt
