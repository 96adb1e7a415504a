// CORE::serviceOperation (an operation handler with pre- and post-hooks) and statrix_operation,
// the "perfmon" handler that dispatches the four operations.
#pragma once
#include "frame/host/host.h"
#include "frame/ref_ptr.h"

class statrix_service;

namespace CORE {

class serviceOperation : public WorkItem {
 public:
  ~serviceOperation() override;
  // Runs before the dispatch; false refuses the request (no dispatch, no postHandler).
  virtual bool preHandler(const corestring& op, PropertyBag& request, PropertyBag& reply);
  // Runs after a dispatch.
  virtual void postHandler();
};

}  // namespace CORE

class statrix_operation : public CORE::serviceOperation {
 public:
  // Takes over one reference on `service`, held until the handler is destroyed.
  explicit statrix_operation(statrix_service* service);
  ~statrix_operation() override;

  bool MessageHandler(const CORE::corestring& op, CORE::PropertyBag& request, CORE::PropertyBag& reply) override;

 private:
  bool collect(CORE::PropertyBag& request, CORE::PropertyBag& reply);
  bool collectCpuAndMem(CORE::PropertyBag& request, CORE::PropertyBag& reply);
  bool update(CORE::PropertyBag& request, CORE::PropertyBag& reply);
  bool configMetrics(CORE::PropertyBag& request, CORE::PropertyBag& reply);

  // The service this handler referenced at creation. Kept here rather than re-read from
  // theService, which the plug-in empties at shut-down while handlers may still run.
  RefPtr<statrix_service> service;
};

// The worker's factory: a handler holding a reference on theService; null when the service
// is already gone.
CORE::WorkItem* createOperation();
