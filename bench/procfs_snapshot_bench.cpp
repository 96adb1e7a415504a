// Cost of the machine-data queries: the process snapshot with the module's growth loop on this
// machine's /proc and on fixture trees of 100 to 20,000 processes, its cheap sizing call,
// processor times and memory status.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "ntdll/system_queries.h"
#include "snapshot_passes.h"
#include "winapi.h"

namespace {

void BM_ProcessSnapshot(benchmark::State& state) {
  ::unsetenv("VARNEL_PROCFS");
  snapshotPasses(state);
}
BENCHMARK(BM_ProcessSnapshot)->Unit(benchmark::kMicrosecond);

// The same on a fixture tree of state.range(0) processes: cost per process should stay flat.
void BM_FixtureSnapshot(benchmark::State& state) {
  fixtureOf(static_cast<size_t>(state.range(0))).activate();
  snapshotPasses(state);
  ::unsetenv("VARNEL_PROCFS");
}
BENCHMARK(BM_FixtureSnapshot)->Arg(100)->Arg(2000)->Arg(20000)->Unit(benchmark::kMicrosecond);

// With no descriptor kept between passes: every file opened on every pass, the path taken for
// the processes beyond the descriptor budget.
void BM_FixtureSnapshotOpenPerPass(benchmark::State& state) {
  fixtureOf(static_cast<size_t>(state.range(0))).activate();
  winapi_linux::setSnapshotDescriptorLimit(0);
  snapshotPasses(state);
  winapi_linux::setSnapshotDescriptorLimit(winapi_linux::kDefaultSnapshotDescriptors);
  ::unsetenv("VARNEL_PROCFS");
}
BENCHMARK(BM_FixtureSnapshotOpenPerPass)->Arg(100)->Arg(2000)->Arg(20000)->Unit(benchmark::kMicrosecond);

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
