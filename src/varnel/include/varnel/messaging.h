// Workers and messages: CORE::MessageHandler, WorkItem (request handlers) and the framework
// object Varnel::System() with worker registration.
#pragma once
#include <atomic>
#include <cstdint>

#include "varnel/corestring.h"
#include "varnel/propertybag.h"

namespace CORE {

class WorkItem;
using WorkItemFactory = WorkItem* (*)();

class VARNEL_API MessageHandler {
 public:
  virtual ~MessageHandler();
  // Sends `op` to the installed worker: a handler from its factory runs MessageHandler(op,
  // request, reply) on the calling thread and is released. 0 when delivered; 2
  // (ERROR_FILE_NOT_FOUND) when the worker is not installed, 8 when the factory made no
  // handler, 1627 when the handler threw (logged). The handler acts for the framework: its
  // Impersonate succeeds as an administrator.
  virtual uint32_t SendMsg(const corestring& worker, const corestring& op, PropertyBag& request, PropertyBag& reply,
                           void* callback, void* context, void* channel, unsigned long timeout, void* reserved1,
                           void* reserved2, bool flag1, bool flag2);
  // Broadcasts a message to every subscriber of the host.
  virtual bool BroadcastMsg(const corestring& name1, const corestring& name2, PropertyBag& bag, void* channel,
                            const wchar_t* text, bool flag);
};

// A request handler, made by a worker's factory with one reference and released when done.
class VARNEL_API WorkItem : public MessageHandler {
 public:
  WorkItem();
  ~WorkItem() override;
  virtual long AddRef();
  virtual long Release();
  // Serves one operation; the base answers false with error 120.
  virtual bool MessageHandler(const corestring& op, PropertyBag& request, PropertyBag& reply);
  virtual bool EvalItem();
  virtual bool StateHandler();
  virtual bool AbortHandler();
  virtual bool VisibilityHandler();
  // Makes this thread act as the requester; false when that fails (the thread keeps the
  // service's own identity, an administrator). RevertToSelf ends it; so does the end of the
  // request.
  bool Impersonate();
  bool RevertToSelf();

 private:
  std::atomic<long> refs_{1};
  bool impersonating_ = false;
};

class VARNEL_API Varnel : public MessageHandler {
 public:
  static Varnel* System();
  // Installs a worker (names compare ignoring case); throws coreException when the name is
  // taken or the factory is null. The host sees every installation and removal.
  bool AddWorker(WorkItemFactory factory, const corestring& name, const corestring& description, uint32_t flags,
                 void* owner);
  bool RemoveWorker(const corestring& name, bool flag);
  bool IsWorkerInstalled(const corestring& name, uint32_t flag);
};

}  // namespace CORE
