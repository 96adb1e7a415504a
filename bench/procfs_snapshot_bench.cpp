// Cost of the machine-data queries: the process snapshot with the module's growth loop on this
// machine's /proc and on fixture trees of 100 to 20,000 processes, its cheap sizing call,
// processor times and memory status.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "support/linux/fixture_tree.h"
#include "system_queries.h"
#include "winapi.h"

namespace {

// One fixture tree per size, written once per program run (20,000 processes take a while).
statrix_test::FixtureTree& fixtureOf(size_t processes) {
  static std::map<size_t, std::unique_ptr<statrix_test::FixtureTree>> trees;
  auto& tree = trees[processes];
  if (!tree) {
    tree = std::make_unique<statrix_test::FixtureTree>();
    tree->setCpuCount(8);
    tree->addProcesses(processes, 1000);
  }
  return *tree;
}

// The module's pattern: a size-0 call, then a buffer of the asked size plus 16384.
void snapshotPasses(benchmark::State& state) {
  std::vector<unsigned char> buffer;
  size_t processes = 0;
  bool first = true;  // the first pass opens every file: steady passes are what is timed
  for (auto _ : state) {
    if (first) {
      state.PauseTiming();
      ULONG needed = 0;
      NtQuerySystemInformation(SystemProcessInformation, nullptr, 0, &needed);
      buffer.resize(needed + 16384);
      NtQuerySystemInformation(SystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
      state.ResumeTiming();
      first = false;
    }
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
