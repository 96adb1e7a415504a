// The exposition as Prometheus's own checker reads it (promtool check metrics).
#include "metrics_exposition.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "support/linux/scratch_dir.h"

namespace vhost {
namespace {

constexpr char kPromtool[] = "/usr/bin/promtool";

// Exit status of `promtool check metrics` on `text`, with its output.
int promtoolCheck(const std::string& text, std::string& output) {
  statrix_test::ScratchDir dir;
  std::string input = dir.write("metrics.txt", text);
  std::string command = std::string(kPromtool) + " check metrics < " + input + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(MetricsExposition, PromtoolAcceptsEveryFamilyWithAwkwardLabels) {
  if (access(kPromtool, X_OK) != 0) GTEST_SKIP() << kPromtool << " is not installed (Debian package prometheus)";
  RoundFigures round;
  round.cpuMemAnswered = true;
  round.cpuPercent = 7;
  round.memoryLoadPercent = 50;
  round.totalBytes = 17179869184u;
  round.availableBytes = 8589934592u;
  round.metrics.push_back({"diskRead", {"PhysicalDisk", "Avg. Disk sec/Read", "0 C:\\ \"x\"\nnext"}, 0});
  round.metrics.push_back({"pagesIn", {"Memory", "Pages Input/sec", ""}, -3});
  round.counters = {{"Secure Gateway Sessions High", 2}, {"AllSessions", 0}};
  ObservedFigures observed;
  observed.alarms = {1, 2, 3, 4};
  observed.sessionCpu = {{1, 25}, {2, 0}};
  observed.sessionMemory = {{1, 140}};
  observed.passBuckets[0] = 1;
  observed.passBuckets[kPassBuckets.size()] = 1;  // one pass over the last bound
  observed.passCount = 2;
  observed.passSeconds = 7.5;
  observed.timerRunning = true;

  std::string output;
  EXPECT_EQ(promtoolCheck(renderMetrics(round, observed), output), 0) << output;
  EXPECT_EQ(output, "");  // not even a lint remark

  std::string empty;
  EXPECT_EQ(promtoolCheck(renderMetrics({}, {}), empty), 0) << empty;
}

TEST(MetricsExposition, PromtoolCatchesABrokenExposition) {
  if (access(kPromtool, X_OK) != 0) GTEST_SKIP() << kPromtool << " is not installed (Debian package prometheus)";
  std::string output;
  // The checker itself must see a fault, else the test above proves nothing.
  EXPECT_NE(promtoolCheck("# TYPE x gauge\nx{a=\"b} 1\n", output), 0) << output;
}

}  // namespace
}  // namespace vhost
