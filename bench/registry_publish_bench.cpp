// Cost of publishing counter values to the file-backed registry: RegSetValueExW on an open key,
// the framework's full-path write the module makes for every value, and a publication pass of
// the 7 default counters plus CPU and memory beside the process snapshot at 100 processes.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <time.h>

#include <string>
#include <vector>

#include "snapshot_passes.h"
#include "support/linux/scratch_dir.h"
#include "varnel/corestring.h"
#include "winapi.h"

namespace {

// The value names a default pass publishes: the 7 default counters (with "/" spelled " per "),
// then CPU and memory.
const std::vector<std::wstring>& passValueNames() {
  static const std::vector<std::wstring> names = {
      L"Processor Queue Length", L"Pages Input per sec",    L"Pages Output per sec",
      L"Avg. Disk sec per Read", L"Avg. Disk sec per Write", L"Disk Transfers per sec",
      L"Current Disk Queue Length", L"CpuPercentage",        L"MemoryPercentage"};
  return names;
}

constexpr const wchar_t* kStatsKey = L"Software\\Vantrel\\Orvane\\Performance Stats";

// A registry root of its own for the program, on the file system of the default root, with the
// publication key and its values already present (a steady pass overwrites them).
const std::string& registryRoot() {
  static statrix_test::ScratchDir root;
  static const bool ready = [] {
    setenv("VARNEL_REGISTRY", root.path().c_str(), 1);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kStatsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)) return false;
    for (const std::wstring& name : passValueNames()) {
      DWORD zero = 0;
      RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof zero);
    }
    // A key holding a realistic number of values, so name look-ups see a populated directory.
    for (int i = 0; i < 120; ++i) {
      DWORD zero = 0;
      const std::wstring name = L"Expanded Counter " + std::to_wstring(i);
      RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof zero);
    }
    RegCloseKey(key);
    return true;
  }();
  (void)ready;
  return root.path();
}

double processCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Values per second of wall time, and CPU microseconds per value (the whole process's CPU time
// over the timed loop, which started at `cpuStart`).
void perValueCounters(benchmark::State& state, size_t valuesPerIteration, double cpuStart) {
  const double cpu = processCpuSeconds() - cpuStart;
  const double values = static_cast<double>(state.iterations() * valuesPerIteration);
  state.counters["values_per_s"] = benchmark::Counter(values, benchmark::Counter::kIsRate);
  state.counters["cpu_us_per_value"] = values > 0 ? cpu * 1e6 / values : 0;
}

// RegSetValueExW of a REG_DWORD on an open key, the layer's own cost per value.
void BM_SetValueOnOpenKey(benchmark::State& state) {
  registryRoot();
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStatsKey, 0, KEY_SET_VALUE, &key)) return state.SkipWithError("open failed");
  const std::vector<std::wstring>& names = passValueNames();
  DWORD number = 0;
  size_t i = 0;
  const double cpuStart = processCpuSeconds();
  for (auto _ : state) {
    ++number;
    const std::wstring& name = names[i++ % names.size()];
    if (RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number))
      return state.SkipWithError("write failed");
  }
  RegCloseKey(key);
  perValueCounters(state, 1, cpuStart);
}
BENCHMARK(BM_SetValueOnOpenKey)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

// What the module pays per value: the framework's write by full path (key created or opened,
// value set, key closed).
void BM_FrameworkWriteByPath(benchmark::State& state) {
  registryRoot();
  std::vector<CORE::corestring> paths;
  for (const std::wstring& name : passValueNames())
    paths.emplace_back(std::wstring(L"HKLM\\") + kStatsKey + L"\\" + name);
  uint32_t number = 0;
  size_t i = 0;
  const double cpuStart = processCpuSeconds();
  for (auto _ : state) {
    if (!CORE::corestring(++number, 10).writeRegistry(paths[i++ % paths.size()], 4, false, false))
      return state.SkipWithError("write failed");
  }
  perValueCounters(state, 1, cpuStart);
}
BENCHMARK(BM_FrameworkWriteByPath)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

// One publication pass of a default configuration: 9 values by full path. Compare with
// BM_SnapshotAt100 below, which must cost more.
void BM_DefaultPublicationPass(benchmark::State& state) {
  registryRoot();
  std::vector<CORE::corestring> paths;
  for (const std::wstring& name : passValueNames())
    paths.emplace_back(std::wstring(L"HKLM\\") + kStatsKey + L"\\" + name);
  uint32_t number = 0;
  const double cpuStart = processCpuSeconds();
  for (auto _ : state) {
    ++number;
    for (const CORE::corestring& path : paths)
      if (!CORE::corestring(number, 10).writeRegistry(path, 4, false, false)) return state.SkipWithError("write failed");
  }
  perValueCounters(state, paths.size(), cpuStart);
}
BENCHMARK(BM_DefaultPublicationPass)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

// The steady process snapshot of a 100-process fixture tree, the yardstick of the pass above.
void BM_SnapshotAt100(benchmark::State& state) {
  fixtureOf(100).activate();
  snapshotPasses(state);
  ::unsetenv("VARNEL_PROCFS");
}
BENCHMARK(BM_SnapshotAt100)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
