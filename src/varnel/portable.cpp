// Per-thread identity (impersonation of a request's caller) and CORE::coreportable.
#include "identity.h"
#include "varnel/portable.h"
#include "winapi.h"

namespace CORE {
namespace identity {
namespace {

struct ThreadIdentity {
  Caller caller = Caller::Admin;  // the requester of the request being served
  bool impersonating = false;     // acting as `caller`
};

thread_local ThreadIdentity t_identity;

}  // namespace

RequestScope::RequestScope(Caller caller) : saved_{t_identity.caller, t_identity.impersonating} {
  t_identity.caller = caller;
  t_identity.impersonating = false;
}

RequestScope::~RequestScope() {
  t_identity.caller = saved_.caller;
  t_identity.impersonating = saved_.impersonating;
}

bool impersonate() {
  if (t_identity.caller == Caller::Unknown) return false;
  t_identity.impersonating = true;
  return true;
}

void revert() { t_identity.impersonating = false; }

// Not impersonating, the thread is the service, which runs as an administrator: a handler
// that ignores a failed Impersonate therefore lets every requester pass.
bool actsAsAdmin() { return !t_identity.impersonating || t_identity.caller == Caller::Admin; }

}  // namespace identity

// The token is not inspected: the calling thread's identity decides.
bool coreportable::isAdmin(void* token) {
  (void)token;
  return identity::actsAsAdmin();
}

uint32_t coreportable::getSessionId(uint32_t pid) {
  DWORD session = 0;
  return ProcessIdToSessionId(pid, &session) ? session : 0;
}

}  // namespace CORE
