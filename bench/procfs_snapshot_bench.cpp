// Cost of the machine-data queries on this machine's /proc: the process snapshot with the
// module's growth loop, its cheap sizing call, processor times and memory status.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "winapi.h"

namespace {

// The module's pattern: a size-0 call, then a buffer of the asked size plus 16384.
void BM_ProcessSnapshot(benchmark::State& state) {
  ::unsetenv("VARNEL_PROCFS");
  std::vector<unsigned char> buffer;
  size_t processes = 0;
  for (auto _ : state) {
    ULONG size = 0, needed = 0;
    buffer.clear();
    NTSTATUS status;
    while ((status = NtQuerySystemInformation(SystemProcessInformation, buffer.data(), size, &needed)) ==
           STATUS_INFO_LENGTH_MISMATCH) {
      size = std::max(size, needed) + 16384;
      buffer.resize(size);
    }
    if (status != STATUS_SUCCESS) {
      state.SkipWithError("snapshot failed");
      return;
    }
    processes = 0;
    for (size_t off = 0;; ++processes) {
      ULONG next;
      std::memcpy(&next, buffer.data() + off, sizeof next);
      if (next == 0) break;
      off += next;
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  state.counters["processes"] = static_cast<double>(processes);
  state.counters["per_process_ns"] = benchmark::Counter(
      static_cast<double>(processes), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ProcessSnapshot)->Unit(benchmark::kMicrosecond);

// The first call of every pass: no buffer, only the size.
void BM_ProcessSnapshotSizing(benchmark::State& state) {
  ::unsetenv("VARNEL_PROCFS");
  for (auto _ : state) {
    ULONG needed = 0;
    benchmark::DoNotOptimize(NtQuerySystemInformation(SystemProcessInformation, nullptr, 0, &needed));
    benchmark::DoNotOptimize(needed);
  }
}
BENCHMARK(BM_ProcessSnapshotSizing)->Unit(benchmark::kMicrosecond);

// The module's fixed 6144-byte buffer.
void BM_ProcessorTimes(benchmark::State& state) {
  ::unsetenv("VARNEL_PROCFS");
  unsigned char buffer[6144];
  for (auto _ : state) {
    ULONG returned = 0;
    benchmark::DoNotOptimize(
        NtQuerySystemInformation(SystemProcessorPerformanceInformation, buffer, sizeof buffer, &returned));
    benchmark::DoNotOptimize(buffer);
  }
}
BENCHMARK(BM_ProcessorTimes)->Unit(benchmark::kMicrosecond);

void BM_MemoryStatus(benchmark::State& state) {
  ::unsetenv("VARNEL_PROCFS");
  for (auto _ : state) {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    benchmark::DoNotOptimize(GlobalMemoryStatusEx(&status));
  }
}
BENCHMARK(BM_MemoryStatus)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
