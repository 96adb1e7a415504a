// The layer's process snapshot as the module takes it (a call for the size, then the full
// call into a buffer of that size plus 16384), pass after pass in one process. Prints the wall
// and CPU time of each pass; the first pass opens every file, the later ones reuse them.
// Usage: snapshot_probe [passes]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "snapshot_call.h"
#include "winapi.h"

namespace {

double cpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// One pass; the number of processes listed, or -1.
int snapshot(std::vector<unsigned char>& buffer) {
  return takeSnapshot(buffer) == STATUS_SUCCESS ? countProcesses(buffer) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  int passes = std::max(1, argc > 1 ? std::atoi(argv[1]) : 1);
  std::vector<unsigned char> buffer;
  std::vector<double> wall, cpu;
  int processes = 0;
  for (int i = 0; i < passes; ++i) {
    auto w = std::chrono::steady_clock::now();
    double c = cpuMs();
    processes = snapshot(buffer);
    if (processes < 0) {
      std::fprintf(stderr, "snapshot failed\n");
      return 1;
    }
    wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - w).count());
    cpu.push_back(cpuMs() - c);
  }
  std::printf("pass_wall_ms");
  for (double v : wall) std::printf(" %.3f", v);
  std::printf("\npass_cpu_ms");
  for (double v : cpu) std::printf(" %.3f", v);
  std::printf("\nprocesses %d\n", processes);
  return 0;
}
