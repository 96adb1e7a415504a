// Who the calling thread acts as: the service's own identity (an administrator) or, between
// Impersonate and RevertToSelf, the requester of the request it serves.
#pragma once
#include "varnel/host_control.h"

namespace CORE::identity {

// Marks this thread as serving a request from `caller` until the scope ends, then restores
// what was there before: requests nest when a handler sends a message of its own, and an
// impersonation the handler forgot to end does not outlive its request.
class RequestScope {
 public:
  explicit RequestScope(Caller caller);
  ~RequestScope();
  RequestScope(const RequestScope&) = delete;
  RequestScope& operator=(const RequestScope&) = delete;

 private:
  struct Saved {
    Caller caller;
    bool impersonating;
  } saved_;
};

// Takes on the requester's identity: true for an administrator or a plain user; false for a
// requester that cannot be impersonated, leaving the thread as it was. Outside a request the
// requester is the framework itself, an administrator.
bool impersonate();
void revert();
// Whether the thread, as it currently acts, is an administrator.
bool actsAsAdmin();

}  // namespace CORE::identity
