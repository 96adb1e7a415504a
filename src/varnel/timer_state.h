// The shared state of one coretimer: what its thread, its owner and the host's manual ticks
// all see. Internal to the runtime.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "varnel/coretimer.h"

namespace CORE {

// Lock order: the timer registry's lock is never held while a State's mutex is taken (the
// registry hands out references and lets go first); a State's mutex is never held while a
// callback runs or while the observer is told.
struct coretimer::State {
  using Clock = std::chrono::steady_clock;

  ~State();  // joins (or, on its own thread, detaches) a thread that was never joined

  std::mutex mutex;
  std::condition_variable cv;  // any change of the fields below

  // Guarded by mutex.
  coretimer* owner = nullptr;  // null once the timer is destroyed: never called again
  uint32_t periodMs = 0;
  Clock::time_point deadline;
  uint64_t generation = 0;     // bumped by every StartTimer: a running pass keeps the new deadline
  uint64_t startSeq = 0;       // when it went from idle to started (tick order)
  bool stopRequested = false;
  int stopWaiters = 0;         // threads inside StopTimerWithWait waiting for the thread to end
  bool threadAlive = false;    // the timer's thread runs (or is about to end)
  std::thread::id threadId;    // that thread, while alive
  std::thread thread;          // joined by whoever stops it, or by the next start
  // Manual ticks: tickets are numbered; a finished ticket leaves its result here.
  uint64_t ticksRequested = 0;
  uint64_t ticksDone = 0;
  std::map<uint64_t, bool> tickResults;

  bool started() const { return threadAlive && !stopRequested; }
};

namespace timers {

// Enters a timer in the process-wide registry (weakly: a destroyed timer drops out by itself).
void registerTimer(const std::shared_ptr<coretimer::State>& state);
// Next value of the start sequence.
uint64_t nextStartSeq();
bool manualMode();

}  // namespace timers
}  // namespace CORE
