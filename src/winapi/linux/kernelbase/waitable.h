// Waitable kernel objects (threads, events) and the one lock that guards their signal state.
//
// As in the NT dispatcher, a single process-wide lock and condition variable serve every wait:
// a wait for several objects then checks and acquires them atomically without per-object
// waiter lists. Waits are rare and short-lived here, so the shared wake-up costs little.
#pragma once
#include <condition_variable>
#include <mutex>

#include "kernelbase/handle_table.h"

namespace winapi_linux {

struct Dispatcher {
  std::mutex mutex;
  std::condition_variable changed;  // notified after any object becomes signalled
};
Dispatcher& dispatcher();

class Waitable : public KernelObject {
 public:
  bool waitable() const final { return true; }
  // Both called with dispatcher().mutex held.
  virtual bool signalledLocked() const = 0;
  // Consumes the signal of a satisfied wait (auto-reset events clear themselves).
  virtual void acquireLocked() {}
};

}  // namespace winapi_linux
