// One whole sampling pass of the watch (memory status, process snapshot, walk, processor
// times, evaluations with the process thresholds on) next to the snapshot alone, on fixture
// trees of 100 to 20,000 processes and on this machine's /proc.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "nt/nt_query.h"
#include "cpumem/watch_state.h"
#include "snapshot_call.h"
#include "support/linux/fixture_tree.h"
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

statrix_test::FixtureTree& fixtureOf(size_t processes) {
  static std::map<size_t, std::unique_ptr<statrix_test::FixtureTree>> trees;
  auto& tree = trees[processes];
  if (!tree) {
    tree = std::make_unique<statrix_test::FixtureTree>();
    tree->setCpuCount(8, {1000, 0, 500, 8000});
    tree->addProcesses(processes, 1000);
  }
  return *tree;
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

// The snapshot alone, as the pass takes it (a call for the size, then the full call).
void snapshots(benchmark::State& state) {
  std::vector<unsigned char> buffer;
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
    takeSnapshot(buffer);
    benchmark::DoNotOptimize(buffer.data());
  }
}

void BM_SnapshotFixture(benchmark::State& state) {
  fixtureOf(static_cast<size_t>(state.range(0))).activate();
  snapshots(state);
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
  snapshots(state);
}
BENCHMARK(BM_SnapshotMachine)->Unit(benchmark::kMicrosecond);

void BM_WatchPassMachine(benchmark::State& state) {
  ::unsetenv("VARNEL_PROCFS");
  passes(state);
}
BENCHMARK(BM_WatchPassMachine)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
