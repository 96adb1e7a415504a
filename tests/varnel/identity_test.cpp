// Who a handler acts as: Impersonate and isAdmin for each kind of requester, for the
// framework's own messages, across nested requests, and after a forgotten RevertToSelf.
#include <gtest/gtest.h>

#include <functional>

#include "varnel/host_control.h"
#include "varnel/messaging.h"
#include "varnel/portable.h"

namespace {

using CORE::Caller;
using CORE::coreportable;
using CORE::corestring;
using CORE::PropertyBag;

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

TEST_F(Identity, EachKindOfRequester) {
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
}

TEST_F(Identity, FrameworkMessagesAndThreadsOutsideRequestsAreAdministrators) {
  EXPECT_TRUE(coreportable::isAdmin(nullptr));
  PropertyBag request, reply;
  CheckingItem::seen = {};
  ASSERT_EQ(system->SendMsg(L"checking", L"update", request, reply, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                            false, false),
            0u);
  EXPECT_TRUE(CheckingItem::seen.impersonated && CheckingItem::seen.admin);
}

TEST_F(Identity, NestedAndForgottenImpersonationsEndWithTheirRequest) {
  bool outerAfterInner = true;
  CheckingItem::inside = [&] {
    PropertyBag request, reply;
    system->SendMsg(L"forgetful", L"op", request, reply, nullptr, nullptr, nullptr, 0, nullptr, nullptr, false, false);
    outerAfterInner = coreportable::isAdmin(nullptr);
  };
  EXPECT_FALSE(request(Caller::User).admin);
  EXPECT_FALSE(outerAfterInner);  // the inner (administrator) request did not leak out

  PropertyBag request, reply;
  EXPECT_EQ(CORE::requestWorker(L"forgetful", L"op", request, reply, Caller::User), true);
  EXPECT_TRUE(coreportable::isAdmin(nullptr));
  EXPECT_EQ(coreportable::getSessionId(0x7FFFFFF0u), 0u);  // no such process
}

}  // namespace
