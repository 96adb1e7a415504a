// Stress: eight request threads send a mix of operations to "perfmon" while timer passes run
// and the alarm settings change, and PluginExit comes in the middle of the traffic. Nothing may
// crash or hang, and every accepted "update" must show in that thread's next "collect".
//
// Each thread runs STATRIX_STRESS_OPS operations (default 1000; the full run uses 100000).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "service_test_env.h"
#include "support/linux/fixture_tree.h"
#include "winapi.h"

namespace {

using namespace service_test;

constexpr int kThreads = 8;
const wchar_t* const kSettings = L"HKLM\\Software\\Vantrel\\Orvane\\Performance Alarms\\";

size_t operationsPerThread() {
  const char* text = std::getenv("STATRIX_STRESS_OPS");
  const long n = text ? std::strtol(text, nullptr, 10) : 0;
  return n > 0 ? static_cast<size_t>(n) : 1000;
}

struct Tally {
  std::atomic<size_t> accepted{0}, checked{0}, lost{0}, wrongResult{0}, afterExit{0};
};

// One request thread: its own counter "Stress<t>" takes the numbers 1, 2, 3, ... from accepted
// updates only; refused updates try to write "intruder" into it.
void requests(int thread, size_t operations, std::atomic<size_t>& done, Tally& tally) {
  const std::wstring mine = L"Stress" + std::to_wstring(thread);
  size_t last = 0;  // the last value an accepted update gave `mine`; 0: none yet
  for (size_t i = 0; i < operations; ++i, ++done) {
    const size_t kind = (i + thread) % 10;
    if (kind < 3) {
      const size_t next = last + 1;
      Reply r = call(L"update", counterUpdate({{mine, std::to_wstring(next)}, {L"AllSessions", mine}}));
      if (r.result == true) {
        last = next;
        ++tally.accepted;
      } else if (!r.result) {
        ++tally.afterExit;  // the worker is gone
      } else {
        ++tally.wrongResult;
      }
    } else if (kind < 5) {
      Reply r = call(i % 2 ? L"collect" : L"COLLECT");
      if (!r.result) continue;
      const CORE::PropertyBag store = r.bag.getBag(L"globalCounters");
      const std::wstring seen = store.has(mine) ? store.get(mine).str() : L"";
      ++tally.checked;
      if (seen != (last == 0 ? L"" : std::to_wstring(last))) ++tally.lost;
    } else if (kind == 5) {
      if (call(L"collectCpuAndMem").result == false) ++tally.wrongResult;
    } else if (kind == 6) {
      CORE::PropertyBag request;
      if (i % 4 == 0) request.setBag(L"statrixMetrics", CORE::PropertyBag());
      if (call(L"configPerfmonMetrics", request).result == false) ++tally.wrongResult;
    } else if (kind == 7) {
      if (call(L"noSuchOperation").result == true) ++tally.wrongResult;
    } else {
      // A user who is no administrator, or a failed impersonation: refused, never merged.
      const CORE::Caller caller = i % 2 ? CORE::Caller::Unknown : CORE::Caller::User;
      if (call(L"update", counterUpdate({{mine, L"intruder"}}), caller).result == true) ++tally.wrongResult;
    }
  }
}

class Stress : public PluginFixture {};

TEST_F(Stress, MixedTrafficTimerPassesSettingChangesAndAnExitInTheMiddle) {
  statrix_test::FixtureTree tree;
  tree.setCpuCount(4, {100, 0, 50, 1000});
  tree.addProcesses(20);
  tree.activate();
  // The log would run to hundreds of thousands of lines: the test keeps it quiet.
  CORE::HostObserver quiet;
  CORE::setHostObserver(&quiet);
  start();

  const size_t operations = operationsPerThread();
  std::atomic<size_t> done{0};
  std::atomic<bool> stop{false};
  std::atomic<size_t> ticks{0}, settingChanges{0};
  Tally tally;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(requests, t, operations, std::ref(done), std::ref(tally));
  // Timer passes, with the procfs figures moving between them.
  threads.emplace_back([&] {
    for (uint64_t tick = 1; !stop; ++tick) {
      tree.setCpuCount(4, {100 + tick * 7, 0, 50 + tick * 3, 1000 + tick * 10});
      CORE::tickTimers();
      ++ticks;
    }
  });
  // Alarm settings changing under the watch.
  threads.emplace_back([&] {
    for (uint32_t n = 0; !stop; ++n) {
      CORE::registryWrite(CORE::corestring(kSettings) + L"OverallCpuPercentage",
                          {REG_DWORD, CORE::corestring(n % 2 ? 1u : 95u, 10), {}});
      CORE::registryWrite(CORE::corestring(kSettings) + L"SamplingIntervalSeconds",
                          {REG_DWORD, CORE::corestring(5u + n % 3, 10), {}});
      CORE::syncConfiguration();
      ++settingChanges;
    }
  });

  const size_t total = operations * kThreads;
  while (done < total / 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  exit();
  for (int t = 0; t < kThreads; ++t) threads[t].join();
  stop = true;
  for (size_t t = kThreads; t < threads.size(); ++t) threads[t].join();

  CORE::setHostObserver(nullptr);
  EXPECT_EQ(tally.lost.load(), 0u);
  EXPECT_EQ(tally.wrongResult.load(), 0u);
  EXPECT_GT(tally.accepted.load(), 0u);
  EXPECT_GT(tally.checked.load(), 0u);
  EXPECT_GT(tally.afterExit.load(), 0u) << "the exit came after the traffic";
  std::printf("stress: %zu threads x %zu operations; %zu updates accepted, %zu collects checked, %zu updates "
              "after the exit; %zu ticks, %zu setting changes\n",
              static_cast<size_t>(kThreads), operations, tally.accepted.load(), tally.checked.load(),
              tally.afterExit.load(), ticks.load(), settingChanges.load());
}

}  // namespace
