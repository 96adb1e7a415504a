// Fault injection under the watch: procfs files vanish, shrink, grow, turn into directories and
// are garbled between and during passes. The watch stays on, every figure stays in 0..100, and
// once the faults stop the figures are exactly those of the clean tree again.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include "statrix/cpumem_watch_env.h"
#include "support/linux/fixture_tree.h"

namespace {

using statrix_test::FakeCpu;
using statrix_test::FakeProcess;
using statrix_test::FixtureTree;
using watch_test::Event;

constexpr uint32_t kFirstPid = 1000;
constexpr size_t kProcesses = 8;
constexpr uint64_t kTotalKb = 1000000;  // memory load 60 with 400000 kB available
constexpr uint64_t kAvailableKb = 400000;

// Process i of the clean tree: session 1 + i % 3, 20000 kB of private memory per index (a
// memory share of 2i %), so that the process memory alarm at 10 % fires for some.
FakeProcess original(size_t i) {
  const auto pid = kFirstPid + static_cast<uint32_t>(i);
  return {pid, "proc" + std::to_string(pid), 100 + i, 50, 1000 + i, 20000 * i, 0, 1 + static_cast<uint32_t>(i % 3), 0};
}

// Removes whatever an earlier fault left at `relative`: file or directory.
void clear(FixtureTree& tree, const std::string& relative) {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(tree.root()) / relative, ignored);
}

// Stand-ins for a file's text: the file is removed, or a directory takes its place.
const std::string kMissing = "<missing>", kDirectory = "<directory>";

// `text` cut at a random place (possibly to nothing).
std::string cut(const std::string& text, std::mt19937& random) { return text.substr(0, random() % text.size()); }

// The tree's live figures and the faults applied to them, starting from the clean tree. Only one
// thread uses an instance.
class FaultyTree {
 public:
  FaultyTree(FixtureTree& tree, uint32_t seed) : random(seed), tree_(tree) { restoreOriginals(); }

  // A pass interval of 1000 clock ticks, `busy` of them busy; `stat` and `meminfo` are whole
  // again, so their faults last one pass. With `processTimes`, two processes use up to half of
  // the busy ticks each, so that the processes never use more than the processors did.
  void advance(uint64_t busy, bool processTimes) {
    cpu_.user += busy;
    cpu_.idle += 1000 - busy;
    writeWholeStatAndMeminfo();
    for (int k = 0; processTimes && k < 2; ++k) {
      const size_t i = random() % kProcesses;
      processes[i].utime += random() % (busy / 2 + 1);
      tree_.removeProcess(processes[i].pid);  // whatever faults it had are gone with it
      tree_.addProcess(processes[i]);
    }
  }

  // One fault on a random process, or on `stat` or `meminfo`.
  void injectFault() {
    FakeProcess& p = processes[random() % kProcesses];
    const std::string dir = std::to_string(p.pid) + "/";
    const std::string stat = FixtureTree::statText(p);
    const size_t fault = random() % 15;
    if (fault == 0) {
      tree_.removeProcess(p.pid);  // ended
    } else if (fault == 1) {
      // Ended and a new process started under its pid, with less CPU time than the old one.
      tree_.removeProcess(p.pid);
      p.starttime += 100;
      p.utime = random() % 20;
      tree_.addProcess(p);
    } else {
      // A file replaced: cut, grown, garbled, missing or a directory now.
      std::string meminfo = meminfo_;
      meminfo[meminfo.find("kB") - 3] = 'x';  // a letter in MemTotal
      const std::pair<std::string, std::string> faults[] = {
          {dir + "stat", cut(stat, random)},
          {dir + "stat", stat + " 1 2 3 4 5 6 7 8 9\nmore 1 2\n"},
          {dir + "stat", kDirectory},
          {dir + "statm", kDirectory},
          {dir + "statm", "262 25"},
          {dir + "status", cut(FixtureTree::statusText(p), random)},
          {dir + "status", kMissing},
          {dir + "sessionid", kMissing},
          {"meminfo", kMissing},
          {"meminfo", kDirectory},
          {"meminfo", cut(meminfo_, random)},
          {"meminfo", meminfo},
          {"stat", kMissing},
          {"stat", kDirectory},
          {"stat", cut(stat_, random)},
          {"stat", "cpu  garbled\nbtime\n"},
      };
      const auto& [file, text] = faults[random() % std::size(faults)];
      clear(tree_, file);
      if (text == kDirectory)
        tree_.writeFile(file + "/x", "");
      else if (text != kMissing)
        tree_.writeFile(file, text);
    }
  }

  // Every file back to the live figures.
  void restore() {
    writeWholeStatAndMeminfo();
    for (const FakeProcess& p : processes) {
      tree_.removeProcess(p.pid);
      tree_.addProcess(p);
    }
  }

  // The clean tree, every process with its original figures.
  void restoreOriginals() {
    for (size_t i = 0; i < kProcesses; ++i) processes[i] = original(i);
    restore();
  }

  FakeProcess processes[kProcesses];
  std::mt19937 random;

 private:
  // Writes `stat` and `meminfo` from the live figures and keeps their texts for the faults.
  void writeWholeStatAndMeminfo() {
    clear(tree_, "stat");
    tree_.setCpus({cpu_});
    clear(tree_, "meminfo");
    tree_.setMeminfo(kTotalKb, kAvailableKb);
    stat_ = readBack("stat");
    meminfo_ = readBack("meminfo");
  }
  std::string readBack(const char* name) const {
    std::ifstream in(std::filesystem::path(tree_.root()) / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  FixtureTree& tree_;
  FakeCpu cpu_{1000, 0, 500, 8000};
  std::string stat_, meminfo_;  // the whole texts of the live figures
};

class WatchFaultsTest : public watch_test::WatchFixture {
 protected:
  void SetUp() override {
    WatchFixture::SetUp();
    setSetting(L"OverallCpuPercentage", L"50");
    setSetting(L"ProcessCpuPercentage", L"20");
    setSetting(L"ProcessMemoryPercentage", L"10");
    tree_.activate();
    startWatch();
  }

  // One pass, then the checks that hold whatever the faults did: the timer still runs and the
  // watch is still on; a pass fails only where the memory status could not be read; every
  // figure is a number within 0..100.
  void passWithinRange(int pass) {
    const std::vector<bool> results = CORE::tickTimers();
    ASSERT_EQ(results.size(), 1u) << "pass " << pass << ": the watch timer stopped";
    const bool memoryFailed = recorder_.count(Event::Log, L"GlobalMemoryStatusEx FAILED") != 0;
    EXPECT_EQ(results[0], !memoryFailed) << "pass " << pass;
    ASSERT_TRUE(state_.watchEnabled()) << "pass " << pass << ": a transient fault switched the watch off";
    ASSERT_EQ(recorder_.count(Event::Log, L"EXCEPTION IN CpuAndMemWatch"), 0u) << "pass " << pass;
    memoryFailures_ += memoryFailed ? 1 : 0;
    cpuFigures_ += recorder_.count(Event::Log, L"System CPU use");
    processAlarms_ += recorder_.count(Event::Log, L"PROCESS_ALARM");

    // The watch's own figures (a NaN fails the range check too), the process records, the
    // registry values, and the overall and session figures of the help-desk message, which goes
    // out on every pass.
    std::vector<double> figures{state_.cpuPercent(), state_.memPercent(), static_cast<double>(state_.getCpu()),
                                static_cast<double>(state_.getMem())};
    for (size_t i = 0; i < kProcesses; ++i) {
      if (const ProcessRecord* record = state_.processes().find(kFirstPid + static_cast<uint32_t>(i))) {
        figures.insert(figures.end(), {record->cpuPercent, record->memPercent});
      }
    }
    for (const wchar_t* name : {L"CpuPercentage", L"MemoryPercentage"})
      for (const std::wstring& value : recorder_.writes(name)) figures.push_back(std::stod(value));
    const std::vector<Event> messages = recorder_.of(Event::Message);
    ASSERT_EQ(messages.size(), 1u) << pass;
    const CORE::PropertyBag& bag = messages[0].bag;
    figures.push_back(bag.getInt64(L"overall_cpu", -1));
    figures.push_back(bag.getInt64(L"overall_mem", -1));
    for (size_t k = 0; k < bag.size(); ++k) {
      const std::wstring name = bag.getName(k).str();
      if (name == L"sessionCpuMetric" || name == L"sessionMemMetric")
        figures.push_back(bag.bagAt(k).getInt64(name == L"sessionCpuMetric" ? L"cpu" : L"mem", -1));
    }
    for (size_t k = 0; k < figures.size(); ++k)
      EXPECT_TRUE(figures[k] >= 0 && figures[k] <= 100) << "figure " << k << " = " << figures[k] << ", pass " << pass;
    recorder_.clear();
  }

  // After the faults: the clean tree, a baseline pass, then one interval of known figures
  // gives exactly the clean figures.
  void expectCleanFiguresReturn() {
    faults_.restoreOriginals();
    ASSERT_TRUE(tick());
    faults_.advance(300, true);  // 30 % busy; two processes use up to 150 ticks of it each
    recorder_.clear();
    ASSERT_TRUE(tick());
    EXPECT_TRUE(state_.watchEnabled());
    EXPECT_EQ(recorder_.writes(L"CpuPercentage"), std::vector<std::wstring>{L"30"});
    EXPECT_EQ(recorder_.writes(L"MemoryPercentage"), std::vector<std::wstring>{L"60"});
    EXPECT_EQ(state_.processes().size(), kProcesses);
    for (size_t i = 0; i < kProcesses; ++i) {
      const ProcessRecord* record = state_.processes().find(kFirstPid + static_cast<uint32_t>(i));
      ASSERT_NE(record, nullptr) << i;
      const uint64_t used = faults_.processes[i].utime - original(i).utime;
      EXPECT_EQ(record->cpuPercent, static_cast<float>(static_cast<double>(used) * 100.0 / 1000.0)) << i;
      EXPECT_EQ(record->memPercent, static_cast<float>(2.0 * static_cast<double>(i))) << i;
    }
    // Memory alarms for the processes at 10 % and above (5, 6 and 7), one line each.
    EXPECT_EQ(recorder_.count(Event::Log, L"PROCESS_ALARM_MEMORY"), 3u);
  }

  // What the passes did, to show that the faults and the evaluations both happened.
  size_t memoryFailures_ = 0, cpuFigures_ = 0, processAlarms_ = 0;
  FixtureTree tree_;
  FaultyTree faults_{tree_, 7};
};

TEST_F(WatchFaultsTest, FaultsBetweenPassesNeverSwitchTheWatchOffNorLeaveTheRange) {
  for (int pass = 0; pass < 160; ++pass) {
    faults_.advance(faults_.random() % 1001, true);
    for (int k = 0; k < 3; ++k) faults_.injectFault();
    passWithinRange(pass);
    if (HasFatalFailure()) return;
    if (pass % 5 == 4) faults_.restore();
  }
  EXPECT_GT(memoryFailures_, 0u);
  EXPECT_GT(cpuFigures_, 30u);
  EXPECT_GT(processAlarms_, 50u);
  expectCleanFiguresReturn();
}

TEST_F(WatchFaultsTest, FaultsDuringPassesNeverSwitchTheWatchOffNorLeaveTheRange) {
  // Only the fault thread writes the tree while it runs; the passes run on the timer's thread.
  // Process times stay put: a pass reads the processes and the processors at different
  // moments, so with both moving in between, the processes' time has no bound against the
  // processor time the pass measured.
  std::atomic<bool> stop{false};
  std::atomic<int> rounds{0};
  std::thread chaos([&] {
    FaultyTree faults(tree_, 11);
    try {
      while (!stop.load()) {
        faults.advance(faults.random() % 1001, false);
        faults.injectFault();
        if (rounds.fetch_add(1) % 5 == 4) faults.restore();
      }
    } catch (const std::exception& e) {
      ADD_FAILURE() << "the fault thread failed: " << e.what();
    }
  });
  for (int pass = 0; pass < 120 && !HasFatalFailure(); ++pass) passWithinRange(pass);
  stop = true;
  chaos.join();
  expectCleanFiguresReturn();
}

}  // namespace
