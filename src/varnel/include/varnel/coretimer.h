// CORE::coretimer: a periodic timer with its own thread; callbacks of one timer never overlap.
#pragma once
#include <cstdint>
#include <memory>

#include "varnel/coreref.h"

namespace CORE {

// The callback is virtual, so a derived class must stop its timer in its own destructor:
// ~coretimer stops it too, but by then the derived part is gone and no pass may be running.
class VARNEL_API coretimer : public corerefex<coretimer> {
 public:
  coretimer();
  ~coretimer() override;  // stops the timer, waiting for a running callback

  // Starts an idle timer with the period, or gives a running one its new period (the next
  // callback comes one new period after the call). May be called from the callback. False for
  // a period of 0, when no thread can be started, and from a callback that another thread's
  // StopTimerWithWait is waiting for (that stop prevails).
  bool StartTimer(uint32_t periodMs);
  // Stops the timer and waits for a running callback; idempotent. From the callback itself it
  // stops without waiting (the running pass is the last).
  void StopTimerWithWait();
  bool isRunning() const;

  // The callback, run on the timer's own thread once per period; an exception it throws is
  // logged and the timer goes on.
  virtual bool TimerCallback() = 0;

  struct State;  // shared with the host's timer registry (manual ticks)

 private:
  std::shared_ptr<State> state_;
};

}  // namespace CORE
