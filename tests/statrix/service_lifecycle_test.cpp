// The service inside the plug-in: the pulse thread it owns, shut-down while a handler still
// runs, and shut-down racing start-up and requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "frame/thread_group.h"
#include "service/statrix_operation.h"
#include "service_test_env.h"

namespace {

using frame_test::LogRecorder;
using namespace service_test;

const auto* const environment = ::testing::AddGlobalTestEnvironment(new Environment);

CORE::PropertyBag longPulse() {
  CORE::PropertyBag params;
  params.setInt(L"PulseTimerDelay", 600000);
  return params;
}

size_t indexOf(const std::vector<std::wstring>& texts, const std::wstring& text) {
  return std::find(texts.begin(), texts.end(), text) - texts.begin();
}

bool perfmonInstalled() { return CORE::Varnel::System()->IsWorkerInstalled(L"perfmon", 0); }

class ServiceLifecycle : public PluginFixture {};

TEST_F(ServiceLifecycle, NoPulseThreadWithoutPulseTimerDelay) {
  LogRecorder log;
  start();
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);  // the initialisation thread ends by itself
  EXPECT_EQ(log.count([](const auto& l) { return l.text.find(L"PulseTimer") != std::wstring::npos; }), 0u);
}

TEST_F(ServiceLifecycle, TheLastHandlerToFinishTakesTheServiceDown) {
  LogRecorder log;
  CORE::corerunnable_traceThreads = true;
  start(longPulse());
  EXPECT_EQ(CORE::waitForAllThreads(300), 1);  // the pulse thread stays
  CORE::WorkItem* handler = createOperation();  // as the framework does for a request
  ASSERT_NE(handler, nullptr);

  std::atomic<bool> exitReturned{false};
  std::thread exiting([&] {
    PluginExit();
    exitReturned = true;
  });
  ASSERT_TRUE(log.waitFor(L"varnelPluginDll wait for threads to go"));
  // The worker is gone and no handler can be made any more, but this one still serves.
  EXPECT_FALSE(perfmonInstalled());
  EXPECT_EQ(createOperation(), nullptr);
  CORE::PropertyBag request, reply;
  EXPECT_TRUE(handler->MessageHandler(L"collect", request, reply));
  EXPECT_EQ(reply.getBag(L"globalCounters").size(), 16u);
  EXPECT_FALSE(exitReturned.load());
  EXPECT_FALSE(serviceStopping.load());

  handler->Release();  // destroys the service, which ends the pulse thread
  exiting.join();
  exit();
  CORE::corerunnable_traceThreads = false;  // a plain host setting: flipped only with no thread left
  EXPECT_TRUE(serviceStopping.load());
  const std::vector<std::wstring> texts = log.texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), L"End 'perfmon-PulseTimer', count=0, group=0"), 1);
  EXPECT_LT(indexOf(texts, L"PulseTimer finished"), indexOf(texts, L"varnelPluginDll: all threads gone"));
}

TEST_F(ServiceLifecycle, ExitRightAfterInitLeavesNoWorkerBehind) {
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(PluginInit());
    PluginExit();
    EXPECT_EQ(CORE::waitForAllThreads(0), 0) << round;
    EXPECT_FALSE(perfmonInstalled()) << round;
  }
}

TEST_F(ServiceLifecycle, ARepeatedInitKeepsTheRunningService) {
  start();
  ASSERT_EQ(call(L"update", counterUpdate({{L"AllSessions", L"4"}})).result, true);
  ASSERT_TRUE(PluginInit());
  EXPECT_EQ(CORE::waitForAllThreads(INFINITE), 0);
  EXPECT_EQ(collected()[0].second, L"4");
  EXPECT_FALSE(serviceStopping.load());
}

TEST_F(ServiceLifecycle, RequestsRacingShutDownAreServedOrFindNoWorker) {
  start(longPulse());
  std::atomic<bool> stop{false};
  std::atomic<int> served{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 4; ++t) {
    clients.emplace_back([&, t] {
      while (!stop) {
        Reply reply = t % 2 ? call(L"collect") : call(L"update", counterUpdate({{L"AllSessions", L"1"}}));
        if (reply.result == true) {
          ++served;
        } else if (reply.result == false) {
          // The worker was still listed but the factory made no handler: no reply at all.
          EXPECT_EQ(reply.bag.size(), 0u);
          EXPECT_FALSE(reply.bag.hasError());
        }
      }
    });
  }
  while (served < 50) std::this_thread::yield();
  exit();
  stop = true;
  for (auto& client : clients) client.join();
  EXPECT_EQ(CORE::waitForAllThreads(0), 0);
}

}  // namespace
