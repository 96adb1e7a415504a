// What human mode and the live view make of the plug-in's passes: which writes belong to a
// pass, the lines people read, the busiest processes and the screen fitted to its size.
#include <gtest/gtest.h>

#include "human/pass_figures.h"
#include "human/summary_lines.h"
#include "json.h"
#include "top/process_sample.h"
#include "top/top_model.h"

namespace vhost {
namespace {

const std::string kStats = "HKLM\\Software\\Vantrel\\Orvane\\Performance Stats\\";
using Clock = std::chrono::steady_clock;

TEST(PassFigures, APassTakesOnlyTheStatisticsWrittenWhileItRan) {
  PassFigures figures;
  const Clock::time_point t0 = Clock::now();
  // The reset at start and the defaults' reset by the first collection come before the pass.
  figures.observeRegistryWriteAt(t0, kStats + "CpuPercentage", "0", true);
  figures.observeRegistryWriteAt(t0 + std::chrono::seconds(1), kStats + "Disk Transfers per sec", "0", true);
  // The pass: 20 ms, from t0 + 30 s.
  const Clock::time_point began = t0 + std::chrono::seconds(30);
  figures.observeRegistryWriteAt(began + std::chrono::milliseconds(1), kStats + "Disk Transfers per sec", "935", true);
  figures.observeRegistryWriteAt(began + std::chrono::milliseconds(2), kStats + "Pages Input per sec", "4", true);
  figures.observeRegistryWriteAt(began + std::chrono::milliseconds(3), kStats + "Failed", "7", false);
  figures.observeRegistryWriteAt(began + std::chrono::milliseconds(4), "HKLM\\Elsewhere\\CpuPercentage", "5", true);
  figures.observeRegistryWriteAt(began + std::chrono::milliseconds(5), kStats + "MemoryPercentage", "19", true);
  figures.observeTimerPassAt(began + std::chrono::milliseconds(20), 20'000'000, true);
  // The second pass: CPU now, and the same counter written twice keeps its latest value.
  const Clock::time_point second = began + std::chrono::seconds(30);
  figures.observeRegistryWriteAt(second, kStats + "Disk Transfers per sec", "1", true);
  figures.observeRegistryWriteAt(second, kStats + "Disk Transfers per sec", "2", true);
  figures.observeRegistryWriteAt(second, kStats + "CpuPercentage", "51", true);
  figures.observeTimerPassAt(second + std::chrono::milliseconds(5), 10'000'000, false);

  std::vector<PassSummary> passes = figures.takePasses(std::chrono::milliseconds(0));
  ASSERT_EQ(passes.size(), 2u);
  EXPECT_EQ(passes[0].number, 1u);
  EXPECT_FALSE(passes[0].cpuPercent);
  EXPECT_EQ(passes[0].memoryPercent, 19);
  using Counters = std::vector<std::pair<std::string, int64_t>>;
  EXPECT_EQ(passes[0].counters, (Counters{{"Disk Transfers per sec", 935}, {"Pages Input per sec", 4}}));
  EXPECT_EQ(passes[1].cpuPercent, 51);
  EXPECT_FALSE(passes[1].memoryPercent);
  EXPECT_EQ(passes[1].counters, (Counters{{"Disk Transfers per sec", 2}}));
  EXPECT_FALSE(passes[1].ok);
  EXPECT_TRUE(figures.takePasses(std::chrono::milliseconds(0)).empty());
}

TEST(PassFigures, AlarmsConsumersAndEarlyCounterFailures) {
  PassFigures figures;
  figures.observeLog("Failed to get data from counter, error: 0xc0000bc6, perf counter path \\Memory\\Pages/sec");
  figures.observeLog("Failed to get data from counter, error: 0xc0000bb8, perf counter path \\X\\Y");
  figures.observeLog("System CPU use: 5%");
  auto bag = [](std::initializer_list<Json> entries) { return Json(entries); };
  figures.observeBroadcast({{"event", "broadcast"}, {"name", "PERF-ALERT"}, {"name2", "CPU-ALARM"},
                            {"bag", bag({{"CPU_PERCENTAGE", "str", "93"}})}});
  figures.observeBroadcast(
      {{"event", "broadcast"}, {"name", "PERF-ALERT"}, {"name2", "PROCESS-LIST"},
       {"bag", bag({{"reason", "str", "CPU"},
                    {"0", "bag", bag({{"PROCESSID", "str", "42"}})},
                    {"1", "bag", bag({{"PROCESSID", "str", "7"}})}})}});
  figures.observeBroadcast({{"event", "broadcast"}, {"name", "OTHER"}, {"name2", "CPU-ALARM"}, {"bag", Json::array()}});
  figures.observeTimerPassAt(Clock::now(), 1, true);
  figures.observeLog("Failed to get data from counter, error: 0xc0000bc6, later");

  EXPECT_EQ(figures.earlyCounterFailures(), (std::vector<uint32_t>{0xc0000bc6u, 0xc0000bb8u}));
  size_t total = 0;
  std::vector<AlarmNote> alarms = figures.alarms(&total);
  ASSERT_EQ(total, 1u);
  EXPECT_EQ(alarms[0].text, "CPU alarm 93%");
  EXPECT_EQ(figures.latestConsumers(), (std::vector<uint32_t>{42, 7}));
}

TEST(SummaryLines, PassCountersAndWaits) {
  PassSummary pass;
  pass.number = 12;
  pass.elapsedNs = 14'200'000;
  pass.cpuPercent = 51;
  pass.memoryPercent = 19;
  pass.totalBytes = 25'300'000'000;
  pass.availableBytes = 20'500'000'000;
  pass.processes = 2081;
  EXPECT_EQ(summaryLine(pass), "pass 12  CPU 51%  memory 19% (4.8 of 25.3 GB used)  2,081 processes  pass 14 ms");
  // The first pass has no CPU figure; without the plug-in's memory figure the runner's own.
  pass = PassSummary{};
  pass.number = 1;
  pass.elapsedNs = 400'000;
  pass.totalBytes = 1000;
  pass.availableBytes = 250;
  EXPECT_EQ(summaryLine(pass), "pass 1  CPU (from pass 2)  memory 75% (0.0 of 0.0 GB used)  pass 0.4 ms");

  EXPECT_EQ(countersLine({{"Disk Transfers per sec", 935},
                          {"Current Disk Queue Length", 0},
                          {"Pages Input per sec", 0},
                          {"Available Bytes", 12},
                          {"Packets Sent per sec", 3}}),
            "disk 935 transfers/s, disk queue 0, pages in 0/s, Available Bytes 12, Packets Sent 3/s");
  EXPECT_EQ(groupedNumber(1234567), "1,234,567");
  EXPECT_EQ(groupedNumber(999), "999");
  EXPECT_EQ(firstFiguresLine(30000), "first figures after the first pass, in 30 s; CPU after the second, in 60 s");

  // Explained only when every failure is the missing second collection.
  EXPECT_EQ(earlyFailuresLine({kCounterInvalidData, kCounterInvalidData}, 5000),
            "the 2 counter reads above have no value yet: rates and averages need two collections, the "
            "second comes with the first pass, in 5 s");
  EXPECT_EQ(earlyFailuresLine({kCounterInvalidData, 0xc0000bb8u}, 5000), "");
  EXPECT_EQ(earlyFailuresLine({}, 5000), "");
}

TEST(SummaryLines, SettingsSayWhereEachComesFrom) {
  using From = SettingSource::From;
  EXPECT_EQ(settingsLine({{"SamplingIntervalSeconds", "30", From::Default}, {"ProcessNameList", "*", From::Default}}),
            "alarm settings: all defaults (SamplingIntervalSeconds=30, ProcessNameList=*)");
  EXPECT_EQ(settingsLine({{"SamplingIntervalSeconds", "5", From::CommandLine},
                          {"AlarmIntervalSeconds", "15", From::Default},
                          {"OverallCpuPercentage", "50", From::Registry}}),
            "alarm settings: SamplingIntervalSeconds=5 (--set), OverallCpuPercentage=50 (registry); defaults: "
            "AlarmIntervalSeconds=15; --unset NAME restores a default");
}

MachineSample sample(int64_t processorTime, std::vector<ProcessEntry> processes) {
  return MachineSample{std::move(processes), processorTime};
}

TEST(ProcessShares, AsThePlugInComputesThem) {
  const MachineSample before = sample(1000, {{10, 1, 100, 0, "steady"}, {11, 1, 500, 0, "reused"}});
  const MachineSample after = sample(2000, {{10, 1, 350, 500, "steady"},
                                            {11, 2, 900, 0, "reused"},  // a new process under the old pid
                                            {12, 3, 50, 0, "new"},
                                            {13, 1, 100000, 0, "runaway"}});
  std::vector<ProcessShare> shares = processShares(&before, after, 1000);
  ASSERT_EQ(shares.size(), 4u);
  EXPECT_DOUBLE_EQ(shares[0].cpuPercent, 25.0);
  EXPECT_DOUBLE_EQ(shares[0].memoryPercent, 50.0);
  EXPECT_EQ(shares[1].cpuPercent, 0.0);
  EXPECT_EQ(shares[2].cpuPercent, 0.0);
  EXPECT_EQ(shares[3].cpuPercent, 0.0);  // not in the earlier sample
  // Without an earlier sample only memory shares.
  EXPECT_EQ(processShares(nullptr, after, 1000)[0].cpuPercent, 0.0);
}

TopModel busyModel() {
  TopModel model;
  model.start = Clock::now();
  PassSummary pass;
  pass.number = 3;
  pass.elapsedNs = 2'000'000;
  pass.cpuPercent = 60;
  pass.memoryPercent = 50;
  pass.totalBytes = 16'000'000'000;
  pass.availableBytes = 8'000'000'000;
  pass.processes = 3;
  pass.counters = {{"Disk Transfers per sec", 9}};
  model.addPass(pass);
  model.periodMs = 5000;
  model.shares = {{1, "init", 0.5, 1.0}, {7, "spinner", 60.0, 0.2}, {9, "hog", 1.0, 40.0}};
  model.users = {{7, "vm\\alice"}};
  model.consumers = {7};
  model.endpoint = "http://127.0.0.1:9464/metrics";
  return model;
}

TEST(TopView, LayoutFitsEveryScreenSize) {
  const TopModel model = busyModel();
  for (auto [width, height] : {std::pair{120, 30}, std::pair{80, 24}, std::pair{40, 12}, std::pair{20, 3},
                               std::pair{1, 1}}) {
    std::vector<std::string> lines = renderTop(model, width, height, true, model.start + std::chrono::seconds(65));
    ASSERT_EQ(lines.size(), static_cast<size_t>(height)) << width << "x" << height;
    for (const std::string& line : lines)
      EXPECT_EQ(fitColumns(line, static_cast<size_t>(width)), line) << width << "x" << height;
  }
  std::vector<std::string> wide = renderTop(model, 120, 30, false, model.start + std::chrono::seconds(65));
  std::string screen;
  for (const std::string& line : wide) screen += line + "\n";
  for (const char* text : {"up 0:01:05", "pass 3 (every 5 s)", "http://127.0.0.1:9464/metrics", "CPU     60%",
                           "memory  50% (8.0 of 16.0 GB used)", "3 processes", "disk 9 transfers/s",
                           "*     7 spinner", "vm\\alice", "busiest by memory", "in the plug-in's latest consumer list"})
    EXPECT_NE(screen.find(text), std::string::npos) << text << "\n" << screen;
  // The busiest by CPU come first, by memory in the other table.
  const std::vector<const ProcessShare*> byCpu = model.busiest(true, 2), byMemory = model.busiest(false, 1);
  ASSERT_EQ(byCpu.size(), 2u);
  EXPECT_EQ(byCpu[0]->pid, 7u);
  EXPECT_EQ(byCpu[1]->pid, 9u);
  EXPECT_EQ(byMemory[0]->pid, 9u);
}

TEST(TopView, SparklinesAndColumns) {
  EXPECT_EQ(sparkline({0, 50, 100, -1}, 10, false), "_:# ");
  EXPECT_EQ(sparkline({0, 50, 100}, 2, true), "▄█");
  EXPECT_EQ(fitColumns("naïve", 3), "naï");
  EXPECT_EQ(fitColumns("ab", 4), "ab  ");
}

}  // namespace
}  // namespace vhost
