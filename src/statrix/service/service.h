// CORE::service: a reference-counted service that registers itself as a framework worker.
#pragma once
#include <atomic>

#include "frame/host/host.h"
#include "frame/scoped_handle.h"

namespace CORE {

class service : public coreref {
 public:
  service() = default;
  ~service() override;  // closes stopEvent

  // Installs the worker `name`; false (and not registered) when the framework refuses it with
  // a coreException. Other exceptions pass to the caller.
  bool registerService(const corestring& name, const corestring& description, WorkItemFactory factory,
                       uint32_t flags);
  // Takes the service down: removes the worker if it was registered, sets `stopping`, signals
  // stopEvent, and releases the caller's reference (which may destroy the service).
  void unregisterAndRelease();

  bool isRegistered() const { return registered; }
  bool isStopping() const { return stopping.load(); }

 protected:
  corestring name;
  bool registered = false;
  std::atomic<bool> stopping{false};
  // Signalled at take-down when set; this module creates none.
  ScopedHandle stopEvent;
};

}  // namespace CORE
