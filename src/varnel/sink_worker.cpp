// The host's stand-in workers (the help desk): every message they get goes to a sink function.
#include "varnel/host_control.h"
#include "varnel/messaging.h"
#include "workers.h"

namespace CORE {
namespace {

class SinkItem final : public WorkItem {
 public:
  SinkItem(corestring worker, WorkerSink sink) : worker_(std::move(worker)), sink_(sink) {}
  bool MessageHandler(const corestring& op, PropertyBag& request, PropertyBag& reply) override {
    (void)reply;
    sink_(worker_, op, request);
    return true;
  }

 private:
  corestring worker_;
  WorkerSink sink_;
};

}  // namespace

bool installSinkWorker(const corestring& name, WorkerSink sink) {
  if (!sink) return false;
  return workers::add(name, [name, sink]() -> WorkItem* { return new SinkItem(name, sink); }, true);
}

bool removeSinkWorker(const corestring& name) { return workers::remove(name, true); }

}  // namespace CORE
