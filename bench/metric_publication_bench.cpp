// Cost of the metric engine's two collections over the Linux layer: the timer's publication
// (tracked collection and one registry value per counter) and a "collectCpuAndMem" collection
// (probe, update with wildcard expansion, collection), for the seven defaults plus every
// PhysicalDisk counter of 8 disks, over a fixture procfs tree.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "metrics/metric_publication.h"
#include "metrics/perfmon_metric_manager.h"
#include "varnel/host_control.h"

namespace {

namespace fs = std::filesystem;

void write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A procfs tree and a registry root in temporary directories, removed at the end.
class Roots {
 public:
  Roots() {
    char pattern[] = "/tmp/metric-bench-XXXXXX";
    base_ = ::mkdtemp(pattern);
    const fs::path proc = base_ / "proc";
    std::string stat = "cpu  0 0 0 0 0 0 0 0 0 0\n";
    for (int i = 0; i < 8; ++i) stat += "cpu" + std::to_string(i) + " 1000 10 500 90000 20 5 5 0 0 0\n";
    stat += "ctxt 123456\nbtime 1700000000\nprocesses 5000\nprocs_running 3\nprocs_blocked 0\n";
    write(proc / "stat", stat);
    write(proc / "meminfo", "MemTotal: 16777216 kB\nMemFree: 4194304 kB\nMemAvailable: 8388608 kB\n");
    write(proc / "vmstat", "pswpin 10\npswpout 20\npgfault 30000\n");
    write(proc / "loadavg", "0.10 0.20 0.30 3/456 789\n");
    write(proc / "uptime", "12345.67 54321.00\n");
    std::string disks;
    for (char d = 'a'; d < 'a' + 8; ++d)
      disks += std::string("   8       0 sd") + d + " 100 0 800 50 40 0 320 30 1 90 80 0 0 0 0 0 0\n";
    write(proc / "diskstats", disks);
    write(proc / "net/dev", "Inter-|\n face |\n");
    ::setenv("VARNEL_PROCFS", proc.c_str(), 1);
    ::setenv("VARNEL_REGISTRY", (base_ / "registry").c_str(), 1);
    ::setenv("VARNEL_UTMP", (base_ / "utmp").c_str(), 1);
    CORE::setLogLevel(5);  // the benchmark measures the engine, not the log sink
  }
  ~Roots() { fs::remove_all(base_); }

 private:
  fs::path base_;
};

void configure(PerfmonMetricManager& manager) {
  CORE::PropertyBag first, reply;
  collectMetricsForReply(manager, first, reply);  // loads the defaults
  CORE::PropertyBag entry, request, none;
  entry.add(L"strCounterObject", L"PhysicalDisk");
  entry.add(L"strCounter", L"*");
  entry.add(L"strInstance", L"*");
  entry.addBool(L"isAdd", true);
  request.add(L"plugin_name", L"bench");
  request.addBag(L"statrixMetrics", entry, true);
  configPerfmonMetrics(manager, request, none);
}

void BM_PublishMetricStats(benchmark::State& state) {
  Roots roots;
  PerfmonMetricManager manager;
  configure(manager);
  for (auto _ : state) publishMetricStats(manager);
  state.counters["counters"] = static_cast<double>(manager.query().counterCount());
}
BENCHMARK(BM_PublishMetricStats)->Unit(benchmark::kMicrosecond);

void BM_CollectForReply(benchmark::State& state) {
  Roots roots;
  PerfmonMetricManager manager;
  configure(manager);
  for (auto _ : state) {
    CORE::PropertyBag request, reply;
    collectMetricsForReply(manager, request, reply);
    benchmark::DoNotOptimize(reply);
  }
  state.counters["counters"] = static_cast<double>(manager.query().counterCount());
}
BENCHMARK(BM_CollectForReply)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
