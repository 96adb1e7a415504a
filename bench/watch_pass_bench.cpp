// One whole sampling pass of the watch (memory status, process snapshot, walk, processor
// times, evaluations with the process thresholds on) next to the snapshot alone, on fixture
// trees of 100 to 20,000 processes and on this machine's /proc.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "nt/nt_query.h"
#include "cpumem/watch_state.h"
#include "snapshot_passes.h"
#include "winapi.h"

namespace {

// The watch reads its settings through the registry: a private, empty root.
void privateRegistry() {
  static const bool done = [] {
    auto dir = std::filesystem::temp_directory_path() /
               ("statrix-pass-bench-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir);
    ::setenv("VARNEL_REGISTRY", dir.c_str(), 1);
    return true;
  }();
  (void)done;
}

void passes(benchmark::State& state) {
  privateRegistry();
  if (!nt::resolveQueries()) {
    state.SkipWithError("no NtQuerySystemInformation");
    return;
  }
  WatchState& watch = WatchState::instance();
  watch.reset();
  watch.setWatchEnabled(true);
  const CORE::corestring names(L"*");
  watch.CpuAndMemWatch(99, 99, 90, 90, 5, names);  // first pass: files opened, table filled
  for (auto _ : state) {
    // Process thresholds on, overall ones high: every process is evaluated, no alarm logged.
    benchmark::DoNotOptimize(watch.CpuAndMemWatch(99, 99, 90, 90, 5, names));
  }
  if (!watch.watchEnabled()) state.SkipWithError("the pass switched the watch off");
}

void BM_SnapshotFixture(benchmark::State& state) {
  fixtureOf(static_cast<size_t>(state.range(0))).activate();
  snapshotPasses(state);
  ::unsetenv("VARNEL_PROCFS");
}
BENCHMARK(BM_SnapshotFixture)->Arg(100)->Arg(2000)->Arg(20000)->Unit(benchmark::kMicrosecond);

void BM_WatchPassFixture(benchmark::State& state) {
  fixtureOf(static_cast<size_t>(state.range(0))).activate();
  passes(state);
  ::unsetenv("VARNEL_PROCFS");
}
BENCHMARK(BM_WatchPassFixture)->Arg(100)->Arg(2000)->Arg(20000)->Unit(benchmark::kMicrosecond);

void BM_SnapshotMachine(benchmark::State& state) {
  ::unsetenv("VARNEL_PROCFS");
  snapshotPasses(state);
}
BENCHMARK(BM_SnapshotMachine)->Unit(benchmark::kMicrosecond);

void BM_WatchPassMachine(benchmark::State& state) {
  ::unsetenv("VARNEL_PROCFS");
  passes(state);
}
BENCHMARK(BM_WatchPassMachine)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
