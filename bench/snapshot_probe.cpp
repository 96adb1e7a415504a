// The layer's process snapshot beside its two floors, interleaved in one process so that every
// kind of pass meets the same machine load. Each round takes, one after the other (each round
// starting one kind further down the list):
//   first   a first pass: the snapshot's state dropped, every file opened anew;
//   steady  a pass of the snapshot as the module takes it (size call, then the full call);
//   naive   the naive loop (open, read, close <pid>/stat and <pid>/statm);
//   kept    the kept-open floor (pread of kept <pid>/stat and <pid>/statm, one listing).
// Prints the wall and CPU milliseconds of every pass of each kind, and the processes listed.
// Usage: snapshot_probe [rounds] [kinds] [gap_ms]   (kinds: a comma list of the above, default
// all; one kind alone is what a profiler wants; gap_ms: an idle pause before every pass, as a
// monitor's timer leaves between its passes, so that caches are as cold as they are then)
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "snapshot_call.h"
#include "snapshot_floor.h"
#include "ntdll/system_queries.h"
#include "winapi.h"

namespace {

double cpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct Kind {
  Kind(const char* n, std::function<int()> p, std::function<void()> b = [] {}) : name(n), pass(p), before(b) {}
  const char* name;
  std::function<int()> pass;    // processes read, or -1
  std::function<void()> before;  // untimed, ahead of each pass
  std::vector<double> wall, cpu;
};

// Passes after which a process's session is no longer read on every pass.
constexpr int kSettlePasses = 4;

int snapshotPass(std::vector<unsigned char>& buffer) {
  return takeSnapshot(buffer) == STATUS_SUCCESS ? countProcesses(buffer) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = std::max(1, argc > 1 ? std::atoi(argv[1]) : 10);
  std::vector<unsigned char> buffer;
  auto snapshot = [&] { return snapshotPass(buffer); };
  // A process's first passes also read its session; after a first pass the steady kind is
  // brought back to its steady state, untimed, so that it measures what a long-running
  // monitor pays.
  bool settled = false;  // a fresh process has kept nothing yet
  auto forget = [&] {
    winapi_linux::setSnapshotDescriptorLimit(winapi_linux::kDefaultSnapshotDescriptors);
    settled = false;
  };
  std::vector<Kind> kinds;
  kinds.emplace_back("first", snapshot, forget);
  kinds.emplace_back("steady", snapshot, [&] {
    // One pass opens every file, then each new process's session reads end.
    for (int i = 0; i <= kSettlePasses && !settled; ++i) snapshotPass(buffer);
    settled = true;
  });
  kinds.emplace_back("naive", floorNaivePass);
  kinds.emplace_back("kept", floorKeptPass);
  if (argc > 2) {
    const std::string wanted = std::string(",") + argv[2] + ",";
    std::erase_if(kinds, [&](const Kind& k) { return wanted.find(std::string(",") + k.name + ",") == std::string::npos; });
    if (kinds.empty()) {
      std::fprintf(stderr, "no such kind: %s (first, steady, naive, kept)\n", argv[2]);
      return 2;
    }
  }
  // The kept floor opens its files once, as the snapshot's first pass does.
  if (floorKeptPass() < 0) {
    std::fprintf(stderr, "cannot list /proc\n");
    return 1;
  }
  const auto gap = std::chrono::milliseconds(argc > 3 ? std::max(0, std::atoi(argv[3])) : 0);
  int processes = 0;
  for (int round = 0; round < rounds; ++round) {
    // Each round starts one kind later, so that no kind always follows the same one.
    for (size_t k = 0; k < kinds.size(); ++k) {
      Kind& kind = kinds[(k + static_cast<size_t>(round)) % kinds.size()];
      kind.before();
      if (gap.count() > 0) std::this_thread::sleep_for(gap);
      auto w = std::chrono::steady_clock::now();
      double c = cpuMs();
      int listed = kind.pass();
      kind.cpu.push_back(cpuMs() - c);
      kind.wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - w).count());
      if (listed < 0) {
        std::fprintf(stderr, "%s pass failed\n", kind.name);
        return 1;
      }
      if (std::string(kind.name) == "steady") processes = listed;
    }
  }
  for (const Kind& kind : kinds) {
    std::printf("%s_wall_ms", kind.name);
    for (double v : kind.wall) std::printf(" %.3f", v);
    std::printf("\n%s_cpu_ms", kind.name);
    for (double v : kind.cpu) std::printf(" %.3f", v);
    std::printf("\n");
  }
  std::printf("processes %d\n", processes);
  floorKeptClose();
  return 0;
}
