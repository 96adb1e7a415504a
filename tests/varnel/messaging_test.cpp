// Workers and requests: installing and removing workers, the road of a request (factory,
// MessageHandler, Release) with its error codes, requests racing a worker's removal,
// broadcasts, waiting for a worker, and the host's stand-in sink workers.
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
using varnel_test::RecordingObserver;

std::atomic<int> g_liveHandlers{0};
std::atomic<int> g_madeHandlers{0};

// Echoes the request's "VALUE" into the reply and counts live handlers.
class EchoItem : public CORE::WorkItem {
 public:
  EchoItem() {
    ++g_liveHandlers;
    ++g_madeHandlers;
  }
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

class Messaging : public ::testing::Test {
 protected:
  void TearDown() override {
    CORE::Varnel::System()->RemoveWorker(L"echo", false);
    EXPECT_EQ(g_liveHandlers.load(), 0) << "a handler was not released";
  }
  CORE::Varnel* system = CORE::Varnel::System();
};

TEST_F(Messaging, AddAndRemoveWorkersByNameIgnoringCase) {
  RecordingObserver observer;
  EXPECT_EQ(CORE::Varnel::System(), system);
  ASSERT_TRUE(system->AddWorker(makeEcho, L"Echo", L"test worker", 512, nullptr));
  EXPECT_TRUE(system->IsWorkerInstalled(L"ECHO", 0));
  EXPECT_THROW(system->AddWorker(makeEcho, L"echo", L"again", 512, nullptr), CORE::coreException);
  EXPECT_TRUE(system->RemoveWorker(L"eCHo", false));
  EXPECT_FALSE(system->IsWorkerInstalled(L"Echo", 0));
  EXPECT_FALSE(system->RemoveWorker(L"Echo", false));

  const auto events = observer.events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, L"worker-added");
  EXPECT_EQ(events[0].name, L"Echo");
  EXPECT_EQ(events[1].kind, L"worker-removed");
}

TEST_F(Messaging, SendMsgRunsAHandlerAndReleasesIt) {
  ASSERT_TRUE(system->AddWorker(makeEcho, L"echo", L"", 0, nullptr));
  PropertyBag request, reply;
  request.set(L"VALUE", L"42");
  EXPECT_EQ(system->SendMsg(L"ECHO", L"echo", request, reply, nullptr, nullptr, nullptr, 0, nullptr, nullptr, false,
                            false),
            0u);
  EXPECT_EQ(reply.get(L"VALUE"), corestring(L"42"));

  PropertyBag unknown;
  EXPECT_EQ(system->SendMsg(L"echo", L"nonsense", request, unknown, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                            false, false),
            0u);
  EXPECT_EQ(unknown.getError(), 120u);  // the base handler's answer
}

TEST_F(Messaging, SendMsgErrors) {
  PropertyBag request, reply;
  EXPECT_EQ(system->SendMsg(L"nobody", L"echo", request, reply, nullptr, nullptr, nullptr, 0, nullptr, nullptr, false,
                            false),
            2u);
  ASSERT_TRUE(system->AddWorker(makeNothing, L"empty", L"", 0, nullptr));
  EXPECT_EQ(system->SendMsg(L"empty", L"echo", request, reply, nullptr, nullptr, nullptr, 0, nullptr, nullptr, false,
                            false),
            8u);
  EXPECT_EQ(CORE::requestWorker(L"empty", L"echo", request, reply, CORE::Caller::Admin), false);
  system->RemoveWorker(L"empty", false);
}

TEST_F(Messaging, RequestWorkerGivesTheHandlersResult) {
  PropertyBag request, reply;
  EXPECT_EQ(CORE::requestWorker(L"echo", L"echo", request, reply, CORE::Caller::Admin), std::nullopt);
  ASSERT_TRUE(system->AddWorker(makeEcho, L"echo", L"", 0, nullptr));
  request.set(L"VALUE", L"x");
  EXPECT_EQ(CORE::requestWorker(L"echo", L"echo", request, reply, CORE::Caller::User), true);
  EXPECT_EQ(reply.get(L"VALUE"), corestring(L"x"));
  PropertyBag refused;
  EXPECT_EQ(CORE::requestWorker(L"echo", L"other", request, refused, CORE::Caller::Admin), false);
}

TEST_F(Messaging, AThrowingHandlerIsReleasedAndTheRequestFails) {
  RecordingObserver observer;
  ASSERT_TRUE(system->AddWorker(makeEcho, L"echo", L"", 0, nullptr));
  PropertyBag request, reply;
  EXPECT_EQ(CORE::requestWorker(L"echo", L"throw", request, reply, CORE::Caller::Admin), false);
  EXPECT_NE(system->SendMsg(L"echo", L"throw", request, reply, nullptr, nullptr, nullptr, 0, nullptr, nullptr, false,
                            false),
            0u);
  EXPECT_TRUE(observer.waitFor([](const varnel_test::Event& e) {
    return e.kind == L"log" && e.text.find(L"handler broke") != std::wstring::npos;
  }));
}

TEST_F(Messaging, RequestsFromManyThreadsRaceTheWorkersRemoval) {
  ASSERT_TRUE(system->AddWorker(makeEcho, L"echo", L"", 0, nullptr));
  std::atomic<bool> go{false};
  std::atomic<int> served{0}, absent{0}, wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      while (!go) std::this_thread::yield();
      // Until this thread finds the worker gone (bounded, should the removal never come).
      for (int i = 0; i < 1000000; ++i) {
        PropertyBag request, reply;
        request.set(L"VALUE", corestring(i, 10));
        bool ok;
        bool installed;
        if (t % 2 == 0) {
          const std::optional<bool> r = CORE::requestWorker(L"echo", L"echo", request, reply, CORE::Caller::User);
          installed = r.has_value();
          ok = r.value_or(false);
        } else {
          const uint32_t code = CORE::Varnel::System()->SendMsg(L"echo", L"echo", request, reply, nullptr, nullptr,
                                                                nullptr, 0, nullptr, nullptr, false, false);
          installed = code != 2;
          ok = code == 0;
        }
        if (!installed) {
          ++absent;
          break;
        } else if (ok && reply.get(L"VALUE") == corestring(i, 10)) {
          ++served;
        } else {
          ++wrong;
        }
      }
    });
  }
  go = true;
  while (served.load() < 50) std::this_thread::yield();
  EXPECT_TRUE(system->RemoveWorker(L"echo", false));
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(absent.load(), 4);
  EXPECT_GE(served.load(), 50);
}

TEST_F(Messaging, BroadcastReachesTheHost) {
  RecordingObserver observer;
  PropertyBag bag;
  bag.set(L"CPU-ALARM", L"1");
  EXPECT_TRUE(system->BroadcastMsg(L"PERF-ALERT", L"", bag, nullptr, nullptr, false));
  const auto events = observer.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, L"broadcast");
  EXPECT_EQ(events[0].name, L"PERF-ALERT");
}

TEST_F(Messaging, WaitForWorker) {
  EXPECT_FALSE(CORE::waitForWorker(L"echo", true, 20));
  EXPECT_FALSE(CORE::waitForWorker(L"echo", false, 0xFFFFFFFFu));
  std::thread installer([&] {
    std::this_thread::sleep_for(20ms);
    CORE::Varnel::System()->AddWorker(makeEcho, L"ECHO", L"", 0, nullptr);
  });
  EXPECT_TRUE(CORE::waitForWorker(L"echo", true, 10000));
  installer.join();
}

std::mutex g_sinkMutex;
std::vector<std::wstring> g_sunk;

void sink(const corestring& worker, const corestring& op, const PropertyBag& bag) {
  std::lock_guard lock(g_sinkMutex);
  g_sunk.push_back(worker.str() + L"/" + op.str() + L"/" + bag.get(L"opcode").str());
}

TEST_F(Messaging, SinkWorkerPassesMessagesOn) {
  ASSERT_TRUE(CORE::installSinkWorker(L"AgentHelpDesk", sink));
  EXPECT_FALSE(CORE::installSinkWorker(L"agenthelpdesk", sink));
  PropertyBag request, reply;
  request.set(L"opcode", L"NewDataFromStatrix");
  EXPECT_EQ(system->SendMsg(L"AgentHelpDesk", L"HelpdeskOperation", request, reply, nullptr, nullptr, nullptr, 0,
                            nullptr, nullptr, false, false),
            0u);
  EXPECT_TRUE(CORE::removeSinkWorker(L"AgentHelpDesk"));
  EXPECT_FALSE(system->IsWorkerInstalled(L"AgentHelpDesk", 0));
  std::lock_guard lock(g_sinkMutex);
  EXPECT_EQ(g_sunk, std::vector<std::wstring>{L"AgentHelpDesk/HelpdeskOperation/NewDataFromStatrix"});
}

TEST_F(Messaging, RemovingASinkLeavesOrdinaryWorkersAlone) {
  ASSERT_TRUE(system->AddWorker(makeEcho, L"echo", L"", 0, nullptr));
  EXPECT_FALSE(CORE::removeSinkWorker(L"echo"));
  EXPECT_TRUE(system->IsWorkerInstalled(L"echo", 0));
}

}  // namespace
