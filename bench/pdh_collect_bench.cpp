// Cost of one PDH collection of a 20-counter query (every source the catalog reads) over a
// fixture procfs tree of 16 processors, 8 disks with partitions and 4 interfaces.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "winapi.h"

namespace {

namespace fs = std::filesystem;

void write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A tree in a temporary directory, removed at the end.
class Tree {
 public:
  Tree() {
    char pattern[] = "/tmp/pdh-bench-XXXXXX";
    root_ = ::mkdtemp(pattern);
    std::string stat = "cpu  0 0 0 0 0 0 0 0 0 0\n";
    for (int i = 0; i < 16; ++i) stat += "cpu" + std::to_string(i) + " 1000 10 500 90000 20 5 5 0 0 0\n";
    stat += "intr 1 2 3\nctxt 123456\nbtime 1700000000\nprocesses 5000\nprocs_running 3\nprocs_blocked 0\n";
    write(root_ / "stat", stat);
    write(root_ / "meminfo", "MemTotal: 16777216 kB\nMemFree: 4194304 kB\nMemAvailable: 8388608 kB\n"
                             "CommitLimit: 8388608 kB\nCommitted_AS: 6291456 kB\n");
    write(root_ / "vmstat", "nr_free_pages 1\npswpin 10\npswpout 20\npgfault 30000\n");
    write(root_ / "loadavg", "0.10 0.20 0.30 3/456 789\n");
    write(root_ / "uptime", "12345.67 54321.00\n");
    std::string disks;
    for (char d = 'a'; d < 'a' + 8; ++d) {
      for (int p = 0; p < 4; ++p) {
        std::string name = std::string("sd") + d + (p ? std::to_string(p) : "");
        disks += "   8 0 " + name + " 1000 0 8000 2000 500 0 4000 3000 1 5000 6000 0 0 0 0 0 0\n";
      }
    }
    write(root_ / "diskstats", disks);
    std::string net = "Inter-| Receive | Transmit\n face |bytes packets|bytes packets\n";
    for (const char* n : {"lo", "eth0", "eth1", "wlan0"}) net += std::string(n) + ": 1 2 0 0 0 0 0 0 3 4 0 0 0 0 0 0\n";
    write(root_ / "net/dev", net);
    for (int pid = 1; pid <= 200; ++pid) fs::create_directories(root_ / std::to_string(pid));
    ::setenv("VARNEL_PROCFS", root_.c_str(), 1);
  }
  ~Tree() {
    ::unsetenv("VARNEL_PROCFS");
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

 private:
  fs::path root_;
};

void BM_CollectTwentyCounters(benchmark::State& state) {
  Tree tree;
  const wchar_t* paths[] = {
      L"\\System\\Processor Queue Length",        L"\\System\\Processes",
      L"\\System\\Threads",                       L"\\System\\Context Switches/sec",
      L"\\System\\System Up Time",                L"\\Memory\\Available Bytes",
      L"\\Memory\\Committed Bytes",               L"\\Memory\\Pages Input/sec",
      L"\\Memory\\Pages Output/sec",              L"\\Memory\\Page Faults/sec",
      L"\\Processor(_Total)\\% Processor Time",   L"\\Processor(0)\\% User Time",
      L"\\Processor(15)\\% Idle Time",            L"\\PhysicalDisk(_Total)\\Avg. Disk sec/Read",
      L"\\PhysicalDisk(_Total)\\Avg. Disk sec/Write", L"\\PhysicalDisk(_Total)\\Disk Transfers/sec",
      L"\\PhysicalDisk(_Total)\\Current Disk Queue Length", L"\\PhysicalDisk(sdh)\\% Disk Time",
      L"\\Network Interface(eth0)\\Bytes Total/sec", L"\\Network Interface(wlan0)\\Packets/sec",
  };
  HQUERY query = nullptr;
  if (PdhOpenQueryW(nullptr, 0, &query) != ERROR_SUCCESS) return state.SkipWithError("open failed");
  std::vector<HCOUNTER> counters;
  for (const wchar_t* path : paths) {
    HCOUNTER c = nullptr;
    if (PdhAddCounterW(query, path, 0, &c) != ERROR_SUCCESS) return state.SkipWithError("add failed");
    counters.push_back(c);
  }
  PdhCollectQueryData(query);
  for (auto _ : state) {
    if (PdhCollectQueryData(query) != ERROR_SUCCESS) return state.SkipWithError("collect failed");
    for (HCOUNTER c : counters) {
      PDH_FMT_COUNTERVALUE value{};
      PdhGetFormattedCounterValue(c, PDH_FMT_DOUBLE, nullptr, &value);
      benchmark::DoNotOptimize(value.doubleValue);
    }
  }
  PdhCloseQuery(query);
}
BENCHMARK(BM_CollectTwentyCounters);

}  // namespace

BENCHMARK_MAIN();
