// Soak: 10,000 passes (snapshot and memory status) over a fixture tree whose processes are born
// and gone every pass; reports resident memory and open descriptors at the start and the end.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "support/linux/fixture_tree.h"
#include "winapi.h"

namespace {

size_t openDescriptors() {
  size_t count = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++count;
    ::closedir(d);
  }
  return count;
}

size_t residentKb() {
  unsigned long size = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%lu %lu", &size, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * static_cast<size_t>(::sysconf(_SC_PAGESIZE)) / 1024;
}

bool pass(std::vector<unsigned char>& buffer) {
  ULONG needed = 0;
  NTSTATUS status = NtQuerySystemInformation(SystemProcessInformation, nullptr, 0, &needed);
  while (status == STATUS_INFO_LENGTH_MISMATCH) {
    if (buffer.size() < needed + 16384) buffer.resize(needed + 16384);
    status = NtQuerySystemInformation(SystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                                      &needed);
  }
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  return status == STATUS_SUCCESS && GlobalMemoryStatusEx(&memory);
}

void BM_SnapshotSoak(benchmark::State& state) {
  constexpr uint32_t kLive = 200;
  statrix_test::FixtureTree tree;
  tree.addProcesses(kLive, 1000);
  tree.activate();
  std::vector<unsigned char> buffer;
  uint32_t oldest = 1000, next = 1000 + kLive;
  pass(buffer);
  const size_t rssStart = residentKb(), fdsStart = openDescriptors();
  for (auto _ : state) {
    tree.removeProcess(oldest++);
    tree.addProcesses(1, next++);
    if (!pass(buffer)) {
      state.SkipWithError("a pass failed");
      break;
    }
  }
  const size_t rssEnd = residentKb(), fdsEnd = openDescriptors();
  state.counters["rss_start_kb"] = static_cast<double>(rssStart);
  state.counters["rss_end_kb"] = static_cast<double>(rssEnd);
  state.counters["fds_start"] = static_cast<double>(fdsStart);
  state.counters["fds_end"] = static_cast<double>(fdsEnd);
  std::printf("soak: %lld passes, resident %zu kB -> %zu kB, open descriptors %zu -> %zu\n",
              static_cast<long long>(state.iterations()), rssStart, rssEnd, fdsStart, fdsEnd);
}
BENCHMARK(BM_SnapshotSoak)->Iterations(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
