// The service's life inside the plug-in: the pulse timer it owns, shut-down while handlers
// still run, and shut-down racing start-up and requests.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "frame/plugin.h"
#include "frame/thread_group.h"
#include "service/service_globals.h"
#include "service/statrix_operation.h"
#include "service_test_env.h"

namespace {

using frame_test::LogLine;
using frame_test::LogRecorder;
using service_test::call;
using Clock = std::chrono::steady_clock;

const auto* const environment = ::testing::AddGlobalTestEnvironment(new service_test::Environment);

CORE::PropertyBag pulseParams(int32_t delayMs) {
  CORE::PropertyBag params;
  params.setInt(L"PulseTimerDelay", delayMs);
  return params;
}

size_t indexOf(const std::vector<std::wstring>& texts, const std::wstring& text) {
  for (size_t i = 0; i < texts.size(); ++i)
    if (texts[i] == text) return i;
  return texts.size();
}

class ServiceLifecycle : public service_test::PluginFixture {};

TEST_F(ServiceLifecycle, WithoutPulseTimerDelayNoPulseThreadRuns) {
  LogRecorder log;
  start();
  // Only the initialisation thread was started, and it ends by itself.
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
  EXPECT_EQ(log.count([](const LogLine& l) { return l.text.find(L"PulseTimer") != std::wstring::npos; }), 0u);
}

TEST_F(ServiceLifecycle, PulseThreadRunsUntilExitWhichEndsItPromptly) {
  LogRecorder log;
  CORE::corerunnable_traceThreads = true;
  start(pulseParams(600000));
  ASSERT_TRUE(log.waitForText(L"PulseTimer started"));
  EXPECT_EQ(log.count([](const LogLine& l) {
    return l.external && l.text.rfind(L"Begin 'perfmon-PulseTimer'", 0) == 0;
  }),
            1u);
  EXPECT_EQ(CORE::waitForAllThreads(300), 1);  // the pulse thread stays

  const auto begin = Clock::now();
  PluginExit();
  exited();
  // The switch is a plain host setting read by every module thread: flip it back only once
  // none runs.
  CORE::corerunnable_traceThreads = false;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count(), 5000);
  const std::vector<std::wstring> texts = log.texts();
  const size_t finished = indexOf(texts, L"PulseTimer finished");
  ASSERT_LT(finished, texts.size());
  // The plug-in held the last reference: the clean-up itself destroyed the service and joined
  // the pulse thread.
  EXPECT_LT(finished, indexOf(texts, L"varnelPluginDll wait for threads to go"));
  EXPECT_LT(indexOf(texts, L"varnelPluginDll wait for threads to go"),
            indexOf(texts, L"varnelPluginDll: all threads gone"));
  EXPECT_FALSE(CORE::Varnel::System()->IsWorkerInstalled(L"perfmon", 0));
}

TEST_F(ServiceLifecycle, TheLastHandlerToFinishTakesTheServiceDown) {
  LogRecorder log;
  start(pulseParams(600000));
  CORE::WorkItem* handler = createOperation();  // as the framework does for a request
  ASSERT_NE(handler, nullptr);

  std::atomic<bool> exitReturned{false};
  std::thread exiting([&] {
    PluginExit();
    exitReturned = true;
  });
  ASSERT_TRUE(log.waitForText(L"varnelPluginDll wait for threads to go"));
  // The worker is gone and no new handler can be made, but this one still works.
  EXPECT_FALSE(CORE::Varnel::System()->IsWorkerInstalled(L"perfmon", 0));
  EXPECT_FALSE(call(L"collect").result.has_value());
  EXPECT_EQ(createOperation(), nullptr);
  CORE::PropertyBag request, reply;
  EXPECT_TRUE(handler->MessageHandler(L"collect", request, reply));
  EXPECT_EQ(reply.getBag(L"globalCounters").size(), 16u);
  EXPECT_FALSE(exitReturned.load());
  EXPECT_FALSE(serviceStopping.load());

  handler->Release();  // destroys the service, which stops the pulse thread
  exiting.join();
  exited();
  EXPECT_TRUE(serviceStopping.load());
  const std::vector<std::wstring> texts = log.texts();
  EXPECT_LT(indexOf(texts, L"PulseTimer finished"), indexOf(texts, L"varnelPluginDll: all threads gone"));
}

TEST_F(ServiceLifecycle, ExitRightAfterInitLeavesNoWorkerBehind) {
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(PluginInit());
    PluginExit();
    EXPECT_EQ(CORE::waitForAllThreads(0), 0) << round;
    EXPECT_FALSE(CORE::Varnel::System()->IsWorkerInstalled(L"perfmon", 0)) << round;
  }
}

TEST_F(ServiceLifecycle, ARepeatedInitKeepsTheRunningService) {
  start();
  ASSERT_EQ(call(L"update", service_test::counterUpdate({{L"AllSessions", L"4"}})).result, std::optional<bool>(true));
  ASSERT_TRUE(PluginInit());
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
  EXPECT_EQ(call(L"collect").bag.getBag(L"globalCounters").get(L"AllSessions").str(), L"4");
  EXPECT_FALSE(serviceStopping.load());
}

TEST_F(ServiceLifecycle, RequestsRacingShutDownAreServedOrFindNoWorker) {
  start(pulseParams(600000));
  std::atomic<bool> stop{false};
  std::atomic<int> served{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 4; ++t) {
    clients.emplace_back([&, t] {
      while (!stop.load()) {
        auto reply = t % 2 ? call(L"collect") : call(L"update", service_test::counterUpdate({{L"AllSessions", L"1"}}));
        if (!reply.result.has_value()) continue;  // the worker is gone
        if (*reply.result) {
          ++served;
        } else {
          // Between the worker's removal and the framework noticing it, the factory makes no
          // handler any more: the request fails without a reply.
          EXPECT_EQ(reply.bag.size(), 0u);
          EXPECT_FALSE(reply.bag.hasError());
        }
      }
    });
  }
  while (served.load() < 50) std::this_thread::yield();
  PluginExit();
  exited();
  stop = true;
  for (auto& client : clients) client.join();
  EXPECT_EQ(CORE::waitForAllThreads(0), 0);
}

}  // namespace
