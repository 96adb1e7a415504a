// Shared by the snapshot benchmarks: fixture procfs trees by size, and the timed loop of steady
// snapshot passes.
#pragma once
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <vector>

#include "snapshot_call.h"
#include "support/linux/fixture_tree.h"

// One fixture tree per size, written once per program run (20,000 processes take a while).
inline statrix_test::FixtureTree& fixtureOf(size_t processes) {
  static std::map<size_t, std::unique_ptr<statrix_test::FixtureTree>> trees;
  auto& tree = trees[processes];
  if (!tree) {
    tree = std::make_unique<statrix_test::FixtureTree>();
    tree->setCpuCount(8, {1000, 0, 500, 8000});
    tree->addProcesses(processes, 1000);
  }
  return *tree;
}

// Snapshot passes as the module takes them. The first pass, which opens every file, runs before
// the timed loop: steady passes are what is measured.
inline void snapshotPasses(benchmark::State& state) {
  std::vector<unsigned char> buffer;
  if (takeSnapshot(buffer) != STATUS_SUCCESS) return state.SkipWithError("snapshot failed");
  for (auto _ : state) {
    if (takeSnapshot(buffer) != STATUS_SUCCESS) return state.SkipWithError("snapshot failed");
    benchmark::DoNotOptimize(buffer.data());
  }
  const int processes = countProcesses(buffer);
  state.counters["processes"] = processes;
  state.counters["per_process_ns"] = benchmark::Counter(
      processes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
