// Worker registration and take-down of a framework service.
#include "service/service.h"

namespace CORE {

service::~service() = default;

bool service::registerService(const corestring& workerName, const corestring& description, WorkItemFactory factory,
                              uint32_t flags) {
  name = workerName;
  try {
    Varnel::System()->AddWorker(factory, name, description, flags, nullptr);
  } catch (const coreException&) {
    return false;
  }
  registered = true;
  return true;
}

void service::unregisterAndRelease() {
  if (registered) Varnel::System()->RemoveWorker(name, false);
  stopping.store(true);
  if (stopEvent) SetEvent(stopEvent.get());
  Release();
}

}  // namespace CORE
