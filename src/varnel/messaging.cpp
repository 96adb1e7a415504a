// Messages between workers: MessageHandler (SendMsg, BroadcastMsg), WorkItem, the framework
// object Varnel::System() and the host's requestWorker. Every request takes the same road: a
// handler from the worker's factory, MessageHandler on the calling thread, Release.
#include <exception>

#include "identity.h"
#include "runtime_log.h"
#include "varnel/coreexception.h"
#include "varnel/host_control.h"
#include "varnel/logging.h"
#include "varnel/messaging.h"
#include "winapi.h"
#include "workers.h"

namespace CORE {
namespace {

// SendMsg's answer when the handler ended by an exception (the system's "function failed").
constexpr uint32_t kHandlerFailed = 1627;

enum class Outcome { Done, NotInstalled, NoHandler, Failed };

struct Delivery {
  Outcome outcome;
  bool result = false;
};

class ReleaseOnExit {
 public:
  explicit ReleaseOnExit(WorkItem* item) : item_(item) {}
  ~ReleaseOnExit() { item_->Release(); }
  ReleaseOnExit(const ReleaseOnExit&) = delete;
  ReleaseOnExit& operator=(const ReleaseOnExit&) = delete;

 private:
  WorkItem* item_;
};

// Handler exceptions stop at the framework, as they would on a host's request thread.
Delivery deliver(const corestring& worker, const corestring& op, PropertyBag& request, PropertyBag& reply,
                 Caller caller) {
  std::optional<workers::Factory> factory = workers::factoryOf(worker);
  if (!factory) return {Outcome::NotInstalled};
  identity::RequestScope scope(caller);
  try {
    WorkItem* item = (*factory)();
    if (!item) return {Outcome::NoHandler};
    ReleaseOnExit release(item);
    return {Outcome::Done, item->MessageHandler(op, request, reply)};
  } catch (const std::exception& e) {
    runtime::log(Error, L"worker %s: operation %s ended by exception: %s", worker, op, corestring::fromUtf8(e.what()));
  } catch (...) {
    runtime::log(Error, L"worker %s: operation %s ended by an unknown exception", worker, op);
  }
  return {Outcome::Failed};
}

}  // namespace

MessageHandler::~MessageHandler() = default;

// The framework's own messages come from the service itself: Impersonate acts as an
// administrator.
uint32_t MessageHandler::SendMsg(const corestring& worker, const corestring& op, PropertyBag& request,
                                 PropertyBag& reply, void* callback, void* context, void* channel,
                                 unsigned long timeout, void* reserved1, void* reserved2, bool flag1, bool flag2) {
  (void)callback, (void)context, (void)channel, (void)timeout, (void)reserved1, (void)reserved2, (void)flag1,
      (void)flag2;
  switch (deliver(worker, op, request, reply, Caller::Admin).outcome) {
    case Outcome::Done: return ERROR_SUCCESS;
    case Outcome::NotInstalled: return ERROR_FILE_NOT_FOUND;
    case Outcome::NoHandler: return ERROR_NOT_ENOUGH_MEMORY;
    case Outcome::Failed: break;
  }
  return kHandlerFailed;
}

bool MessageHandler::BroadcastMsg(const corestring& name1, const corestring& name2, PropertyBag& bag, void* channel,
                                  const wchar_t* text, bool flag) {
  (void)channel, (void)text, (void)flag;
  if (HostObserver* observer = hostObserver()) observer->onBroadcast(name1, name2, bag);
  return true;
}

WorkItem::WorkItem() = default;
WorkItem::~WorkItem() = default;

long WorkItem::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

long WorkItem::Release() {
  const long left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

bool WorkItem::MessageHandler(const corestring& op, PropertyBag& request, PropertyBag& reply) {
  (void)op, (void)request;
  reply.setError(ERROR_CALL_NOT_IMPLEMENTED);
  return false;
}

bool WorkItem::EvalItem() { return false; }
bool WorkItem::StateHandler() { return false; }
bool WorkItem::AbortHandler() { return false; }
bool WorkItem::VisibilityHandler() { return false; }

bool WorkItem::Impersonate() {
  impersonating_ = identity::impersonate();
  return impersonating_;
}

bool WorkItem::RevertToSelf() {
  identity::revert();
  impersonating_ = false;
  return true;
}

Varnel* Varnel::System() {
  static Varnel* const system = new Varnel;  // lives as long as the process
  return system;
}

bool Varnel::AddWorker(WorkItemFactory factory, const corestring& name, const corestring& description,
                       uint32_t flags, void* owner) {
  (void)description, (void)flags, (void)owner;
  if (!factory) throw coreException(corestring(L"worker ") + name + corestring(L" has no factory"), ERROR_INVALID_PARAMETER);
  if (!workers::add(name, factory, false))
    throw coreException(corestring(L"worker ") + name + corestring(L" is already installed"), ERROR_ALREADY_EXISTS);
  return true;
}

bool Varnel::RemoveWorker(const corestring& name, bool flag) {
  (void)flag;
  return workers::remove(name, false);
}

bool Varnel::IsWorkerInstalled(const corestring& name, uint32_t flag) {
  (void)flag;
  return workers::installed(name);
}

std::optional<bool> requestWorker(const corestring& worker, const corestring& op, PropertyBag& request,
                                  PropertyBag& reply, Caller caller) {
  const Delivery d = deliver(worker, op, request, reply, caller);
  if (d.outcome == Outcome::NotInstalled) return std::nullopt;
  return d.outcome == Outcome::Done && d.result;
}

bool waitForWorker(const corestring& name, bool installed, uint32_t timeoutMs) {
  return workers::waitFor(name, installed, timeoutMs);
}

}  // namespace CORE
