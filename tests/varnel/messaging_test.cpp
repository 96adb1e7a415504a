// Workers and requests: installing and removing workers (also the host's stand-in sink workers),
// the road of a request (factory, MessageHandler, Release) with its error codes, requests racing
// a worker's removal; and who a handler acts as (Impersonate and isAdmin for each kind of
// requester, for the framework's own messages, across nested requests, and after a forgotten
// RevertToSelf).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "recording_observer.h"
#include "varnel/coreexception.h"
#include "varnel/host_control.h"
#include "varnel/messaging.h"
#include "varnel/portable.h"

namespace {

using namespace std::chrono_literals;
using CORE::Caller;
using CORE::coreportable;
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
void ignore(const corestring&, const corestring&, const PropertyBag&) {}

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

// The host's worker events and the stand-in workers' messages are checked end to end by the
// runner tests (RunnerScript.HelpdeskWorkerComesAndGoes, MetricsInRunner).
TEST_F(Messaging, WorkersAreNamedIgnoringCase) {
  ASSERT_TRUE(system->AddWorker(makeEcho, L"Echo", L"test worker", 512, nullptr));
  EXPECT_TRUE(system->IsWorkerInstalled(L"ECHO", 0));
  EXPECT_THROW(system->AddWorker(makeEcho, L"echo", L"again", 512, nullptr), CORE::coreException);
  ASSERT_TRUE(CORE::installSinkWorker(L"AgentHelpDesk", ignore));
  EXPECT_FALSE(CORE::installSinkWorker(L"agenthelpdesk", ignore));
  EXPECT_FALSE(CORE::removeSinkWorker(L"echo"));  // only stand-in workers
  EXPECT_TRUE(CORE::removeSinkWorker(L"AGENTHELPDESK"));
  EXPECT_TRUE(system->RemoveWorker(L"eCHo", false));
  EXPECT_FALSE(system->RemoveWorker(L"Echo", false));
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
  ASSERT_FALSE(observer.events().empty());
  EXPECT_NE(observer.events().back().text.find(L"handler broke"), std::wstring::npos);

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
        const std::optional<bool> ok = CORE::requestWorker(L"echo", L"echo", request, reply, CORE::Caller::User);
        if (!ok.has_value()) {
          ++absent;
          break;
        }
        ++(*ok && reply.get(L"VALUE") == corestring(i, 10) ? served : wrong);
      }
    });
  }
  while (served < 50) std::this_thread::yield();
  EXPECT_TRUE(system->RemoveWorker(L"echo", false));
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(absent, 4);
}

struct Seen {
  bool impersonated = false;
  bool admin = false;          // while impersonating
  bool adminAfter = false;     // after RevertToSelf
};

// The "update" check of a service: Impersonate, isAdmin, RevertToSelf; `inside` runs between.
class CheckingItem : public CORE::WorkItem {
 public:
  static inline Seen seen;
  static inline std::function<void()> inside;
  bool MessageHandler(const corestring&, PropertyBag&, PropertyBag&) override {
    seen.impersonated = Impersonate();
    seen.admin = coreportable::isAdmin(nullptr);
    if (inside) inside();
    RevertToSelf();
    seen.adminAfter = coreportable::isAdmin(nullptr);
    return true;
  }
};

// Impersonates and never reverts.
class ForgetfulItem : public CORE::WorkItem {
 public:
  bool MessageHandler(const corestring&, PropertyBag&, PropertyBag&) override { return Impersonate(); }
};

class Identity : public ::testing::Test {
 protected:
  void SetUp() override {
    CheckingItem::inside = nullptr;
    system->AddWorker([]() -> CORE::WorkItem* { return new CheckingItem; }, L"checking", L"", 0, nullptr);
    system->AddWorker([]() -> CORE::WorkItem* { return new ForgetfulItem; }, L"forgetful", L"", 0, nullptr);
  }
  void TearDown() override {
    system->RemoveWorker(L"checking", false);
    system->RemoveWorker(L"forgetful", false);
  }
  Seen request(Caller caller) {
    PropertyBag request, reply;
    CheckingItem::seen = {};
    EXPECT_EQ(CORE::requestWorker(L"checking", L"update", request, reply, caller), true);
    return CheckingItem::seen;
  }
  CORE::Varnel* system = CORE::Varnel::System();
};

TEST_F(Identity, EachKindOfRequesterAndTheFrameworksOwnMessages) {
  const Seen admin = request(Caller::Admin);
  EXPECT_TRUE(admin.impersonated && admin.admin && admin.adminAfter);
  const Seen user = request(Caller::User);
  EXPECT_TRUE(user.impersonated);
  EXPECT_FALSE(user.admin);
  EXPECT_TRUE(user.adminAfter);  // back to the service's own identity
  // A failed impersonation leaves the service's identity, an administrator: a handler that
  // ignores the failure lets the requester pass, which is the handler's fault to avoid.
  const Seen unknown = request(Caller::Unknown);
  EXPECT_FALSE(unknown.impersonated);
  EXPECT_TRUE(unknown.admin);
  // Threads outside requests and the framework's own messages act as administrators.
  EXPECT_TRUE(coreportable::isAdmin(nullptr));
  PropertyBag request, reply;
  CheckingItem::seen = {};
  ASSERT_EQ(send(L"checking", L"update", request, reply), 0u);
  EXPECT_TRUE(CheckingItem::seen.impersonated && CheckingItem::seen.admin);
}

TEST_F(Identity, NestedAndForgottenImpersonationsEndWithTheirRequest) {
  bool outerAfterInner = true;
  CheckingItem::inside = [&] {
    PropertyBag request, reply;
    send(L"forgetful", L"op", request, reply);
    outerAfterInner = coreportable::isAdmin(nullptr);
  };
  EXPECT_FALSE(request(Caller::User).admin);
  EXPECT_FALSE(outerAfterInner);  // the inner (administrator) request did not leak out

  PropertyBag request, reply;
  EXPECT_EQ(CORE::requestWorker(L"forgetful", L"op", request, reply, Caller::User), true);
  EXPECT_TRUE(coreportable::isAdmin(nullptr));
}

}  // namespace
