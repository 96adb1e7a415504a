// Workers and requests: installing and removing workers, the road of a request (factory,
// MessageHandler, Release) with its error codes, requests racing a worker's removal, waiting
// for a worker, broadcasts and the host's stand-in sink workers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "recording_observer.h"
#include "varnel/coreexception.h"
#include "varnel/host_control.h"
#include "varnel/messaging.h"

namespace {

using namespace std::chrono_literals;
using CORE::corestring;
using CORE::PropertyBag;

std::atomic<int> g_liveHandlers{0};

// Echoes the request's "VALUE"; "throw" throws; counts live handlers.
class EchoItem : public CORE::WorkItem {
 public:
  EchoItem() { ++g_liveHandlers; }
  ~EchoItem() override { --g_liveHandlers; }
  bool MessageHandler(const corestring& op, PropertyBag& request, PropertyBag& reply) override {
    if (op.comparei(L"throw") == 0) throw std::runtime_error("handler broke");
    if (op.comparei(L"echo") != 0) return CORE::WorkItem::MessageHandler(op, request, reply);
    reply.set(L"VALUE", request.get(L"VALUE"));
    return true;
  }
};
CORE::WorkItem* makeEcho() { return new EchoItem; }
CORE::WorkItem* makeNothing() { return nullptr; }

uint32_t send(const corestring& worker, const corestring& op, PropertyBag& request, PropertyBag& reply) {
  return CORE::Varnel::System()->SendMsg(worker, op, request, reply, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                         false, false);
}

class Messaging : public ::testing::Test {
 protected:
  void TearDown() override {
    system->RemoveWorker(L"echo", false);
    EXPECT_EQ(g_liveHandlers, 0) << "a handler was not released";
  }
  CORE::Varnel* system = CORE::Varnel::System();
};

TEST_F(Messaging, WorkersAreNamedIgnoringCaseAndTheHostSeesThem) {
  varnel_test::RecordingObserver observer;
  ASSERT_TRUE(system->AddWorker(makeEcho, L"Echo", L"test worker", 512, nullptr));
  EXPECT_TRUE(system->IsWorkerInstalled(L"ECHO", 0));
  EXPECT_THROW(system->AddWorker(makeEcho, L"echo", L"again", 512, nullptr), CORE::coreException);
  EXPECT_TRUE(system->RemoveWorker(L"eCHo", false));
  EXPECT_FALSE(system->RemoveWorker(L"Echo", false));
  const auto events = observer.events();
  ASSERT_EQ(observer.kinds(), (std::vector<std::wstring>{L"worker-added", L"worker-removed"}));
  EXPECT_EQ(events[0].name, L"Echo");
}

TEST_F(Messaging, RequestsAndTheirErrorCodes) {
  varnel_test::RecordingObserver observer;
  PropertyBag request, reply;
  request.set(L"VALUE", L"42");
  EXPECT_EQ(send(L"echo", L"echo", request, reply), 2u);
  EXPECT_EQ(CORE::requestWorker(L"echo", L"echo", request, reply, CORE::Caller::Admin), std::nullopt);

  ASSERT_TRUE(system->AddWorker(makeEcho, L"echo", L"", 0, nullptr));
  EXPECT_EQ(send(L"ECHO", L"echo", request, reply), 0u);
  EXPECT_EQ(reply.get(L"VALUE"), corestring(L"42"));
  PropertyBag refused;
  EXPECT_EQ(CORE::requestWorker(L"echo", L"other", request, refused, CORE::Caller::User), false);
  EXPECT_EQ(refused.getError(), 120u);  // the base handler's answer
  EXPECT_EQ(CORE::requestWorker(L"echo", L"throw", request, reply, CORE::Caller::Admin), false);
  EXPECT_EQ(send(L"echo", L"throw", request, reply), 1627u);
  EXPECT_TRUE(observer.waitFor([](const varnel_test::Event& e) { return e.text.find(L"handler broke") != e.text.npos; }));

  ASSERT_TRUE(system->AddWorker(makeNothing, L"empty", L"", 0, nullptr));
  EXPECT_EQ(send(L"empty", L"echo", request, reply), 8u);
  system->RemoveWorker(L"empty", false);
}

TEST_F(Messaging, RequestsFromManyThreadsRaceTheWorkersRemoval) {
  ASSERT_TRUE(system->AddWorker(makeEcho, L"echo", L"", 0, nullptr));
  std::atomic<int> served{0}, absent{0}, wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      // Until this thread finds the worker gone (bounded, should the removal never come).
      for (int i = 0; i < 1000000; ++i) {
        PropertyBag request, reply;
        request.set(L"VALUE", corestring(i, 10));
        bool installed, ok;
        if (t % 2 == 0) {
          const std::optional<bool> r = CORE::requestWorker(L"echo", L"echo", request, reply, CORE::Caller::User);
          installed = r.has_value();
          ok = r.value_or(false);
        } else {
          const uint32_t code = send(L"echo", L"echo", request, reply);
          installed = code != 2;
          ok = code == 0;
        }
        if (!installed) {
          ++absent;
          break;
        }
        ++(ok && reply.get(L"VALUE") == corestring(i, 10) ? served : wrong);
      }
    });
  }
  while (served < 50) std::this_thread::yield();
  EXPECT_TRUE(system->RemoveWorker(L"echo", false));
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(absent, 4);
}

TEST_F(Messaging, WaitForWorker) {
  EXPECT_FALSE(CORE::waitForWorker(L"echo", true, 20));
  EXPECT_FALSE(CORE::waitForWorker(L"echo", false, 0xFFFFFFFFu));
  std::thread installer([] {
    std::this_thread::sleep_for(20ms);
    CORE::Varnel::System()->AddWorker(makeEcho, L"ECHO", L"", 0, nullptr);
  });
  EXPECT_TRUE(CORE::waitForWorker(L"echo", true, 10000));
  installer.join();
}

std::vector<std::wstring> g_sunk;  // written on the sending thread only

void sink(const corestring& worker, const corestring& op, const PropertyBag& bag) {
  g_sunk.push_back(worker.str() + L"/" + op.str() + L"/" + bag.get(L"opcode").str());
}

TEST_F(Messaging, SinkWorkersAndBroadcastsReachTheHost) {
  varnel_test::RecordingObserver observer;
  g_sunk.clear();
  ASSERT_TRUE(CORE::installSinkWorker(L"AgentHelpDesk", sink));
  EXPECT_FALSE(CORE::installSinkWorker(L"agenthelpdesk", sink));
  PropertyBag request, reply;
  request.set(L"opcode", L"NewDataFromStatrix");
  EXPECT_EQ(send(L"AgentHelpDesk", L"HelpdeskOperation", request, reply), 0u);
  EXPECT_EQ(g_sunk, std::vector<std::wstring>{L"AgentHelpDesk/HelpdeskOperation/NewDataFromStatrix"});
  EXPECT_TRUE(system->BroadcastMsg(L"PERF-ALERT", L"", request, nullptr, nullptr, false));

  ASSERT_TRUE(system->AddWorker(makeEcho, L"echo", L"", 0, nullptr));
  EXPECT_FALSE(CORE::removeSinkWorker(L"echo"));  // only stand-in workers
  EXPECT_TRUE(CORE::removeSinkWorker(L"AgentHelpDesk"));
  EXPECT_EQ(observer.kinds(), (std::vector<std::wstring>{L"worker-added", L"broadcast", L"worker-added",
                                                         L"worker-removed"}));
}

}  // namespace
