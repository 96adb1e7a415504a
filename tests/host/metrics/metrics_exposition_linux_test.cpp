// The exposition as Prometheus's own checker reads it (promtool check metrics).
#include "metrics/metrics_exposition.h"

#include <gtest/gtest.h>

#include "support/linux/promtool.h"

namespace vhost {
namespace {

using statrix_test::havePromtool;
using statrix_test::kPromtool;
using statrix_test::promtoolAccepts;

TEST(MetricsExposition, PromtoolAcceptsEveryFamilyWithAwkwardLabels) {
  if (!havePromtool()) GTEST_SKIP() << kPromtool << " is not installed (Debian package prometheus)";
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

  std::string why;
  EXPECT_TRUE(promtoolAccepts(renderMetrics(round, observed), why)) << why;
  EXPECT_TRUE(promtoolAccepts(renderMetrics({}, {}), why)) << why;
}

}  // namespace
}  // namespace vhost
