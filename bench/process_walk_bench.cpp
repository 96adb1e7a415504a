// One pass's process walk over 1,000 to 100,000 known processes (steady state), allocations counted.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

#include "process/process_table.h"
#include "statrix/allocation_counter.h"  // this program's only copy of the replacements
#include "statrix/process_snapshot_builder.h"

namespace {

constexpr int64_t kSystemDelta = 30LL * 8 * 10000000;  // 30 s of 8 processors, 100 ns units
constexpr uint64_t kTotalPhys = 64ull << 30;

// Pids as the system hands them out (multiples of 4), a handful of sessions, realistic names.
std::vector<FakeProcess> makeProcesses(size_t count, bool ascending) {
  std::vector<FakeProcess> processes(count);
  for (size_t i = 0; i < count; ++i) {
    FakeProcess& p = processes[i];
    p.pid = 4 * (i + 1);
    p.createTime = 133000000000000000LL + static_cast<int64_t>(i);
    p.userTime = static_cast<int64_t>(i) * 1000;
    p.kernelTime = static_cast<int64_t>(i) * 300;
    p.workingSetPrivate = static_cast<int64_t>(i % 97) << 20;
    p.sessionId = static_cast<uint32_t>(i % 5);
    p.privatePageCount = static_cast<uint64_t>(i % 89) << 20;
    p.name = L"process" + std::to_wstring(i) + L".exe";
  }
  if (!ascending) std::shuffle(processes.begin(), processes.end(), std::mt19937(42));
  return processes;
}

void walk(benchmark::State& state, bool ascending, bool purge) {
  const ProcessSnapshot snapshot = buildSnapshot(makeProcesses(static_cast<size_t>(state.range(0)), ascending));
  ProcessTable table;
  SessionSums sessions;
  const CORE::corestring nameList(L"*");
  uint32_t stamp = 1;
  table.updateProcesses(snapshot, WalkInputs{stamp, kSystemDelta, kTotalPhys, 0, 0}, nameList, sessions);

  const size_t before = allocationCount();
  for (auto _ : state) {
    ++stamp;
    table.updateProcesses(snapshot, WalkInputs{stamp, kSystemDelta, kTotalPhys, 0, 0}, nameList, sessions);
    if (purge) table.purgeProcesses(stamp);
    benchmark::DoNotOptimize(sessions.sessions().data());
  }
  const double passes = static_cast<double>(state.iterations());
  state.counters["allocs/pass"] = static_cast<double>(allocationCount() - before) / passes;
  state.counters["ns/process"] = benchmark::Counter(passes * static_cast<double>(state.range(0)),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The Linux layer lists processes in ascending pid order, as the table holds them.
void BM_WalkSortedSnapshot(benchmark::State& state) { walk(state, true, false); }
// Another system's snapshot order: no help from neighbouring lookups.
void BM_WalkUnsortedSnapshot(benchmark::State& state) { walk(state, false, false); }
// The walk and the purge that follows it, as one pass runs them.
void BM_WalkAndPurge(benchmark::State& state) { walk(state, true, true); }

}  // namespace

BENCHMARK(BM_WalkSortedSnapshot)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_WalkUnsortedSnapshot)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_WalkAndPurge)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK_MAIN();
