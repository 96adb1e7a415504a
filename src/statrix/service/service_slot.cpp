// theService and the lock that guards it.
#include "service/service_slot.h"

#include "service/statrix_operation.h"

statrix_service* theService = nullptr;

namespace {
// Guards theService. Taken first: the framework's worker registration runs under it, and no
// code of this module takes it while holding another lock.
CORE::corecritsec& slotLock() {
  static CORE::corecritsec lock(nullptr);
  return lock;
}
}  // namespace

void publishService(RefPtr<statrix_service> created, const std::function<bool()>& stillWanted) {
  {
    CORE::coresync sync(slotLock(), false);
    // A second initialisation while a service is up keeps the one that is registered.
    if (stillWanted() && theService == nullptr) {
      theService = created.release();
      // Registered under the lock so that a take-down cannot slip in between; the result is
      // not needed: an unregistered service is released without RemoveWorker.
      theService->registerService(L"perfmon", L"Performance monitor and counter store", &createOperation, 512);
      return;
    }
  }
  // Not wanted any more: `created` is released here, outside the lock.
}

statrix_service* acquireService() {
  CORE::coresync sync(slotLock(), false);
  if (theService != nullptr) theService->AddRef();
  return theService;
}

bool hasService() {
  CORE::coresync sync(slotLock(), false);
  return theService != nullptr;
}

statrix_service* withdrawService() {
  CORE::coresync sync(slotLock(), false);
  statrix_service* service = theService;
  theService = nullptr;
  return service;
}
