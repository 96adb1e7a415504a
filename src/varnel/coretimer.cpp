// CORE::coretimer: one thread per running timer. The thread sleeps to the next deadline (or,
// with manual timers, until a tick is asked for), runs the callback with no lock held, and
// repeats until stopped; so callbacks of one timer never overlap.
//
// The callback is virtual: a derived class must stop its timer in its own destructor, because
// by the time ~coretimer stops it the derived part is gone and a pass must not be running.
#include <exception>
#include <system_error>

#include "runtime_log.h"
#include "timer_state.h"
#include "varnel/coretimer.h"
#include "varnel/host_control.h"

namespace CORE {
namespace {

using Clock = coretimer::State::Clock;

bool callTimer(coretimer* owner) {
  try {
    return owner->TimerCallback();
  } catch (const std::exception& e) {
    runtime::log(Error, L"timer callback ended by exception: %s", corestring::fromUtf8(e.what()));
  } catch (...) {
    runtime::log(Error, L"timer callback ended by an unknown exception");
  }
  return false;
}

// The observer learns how long each pass took, e.g. for a histogram of pass durations.
bool runCallback(coretimer* owner) {
  if (owner == nullptr) return false;
  const auto begin = Clock::now();
  const bool result = callTimer(owner);
  if (HostObserver* observer = hostObserver()) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - begin);
    observer->onTimerPass(static_cast<uint64_t>(elapsed.count()), result);
  }
  return result;
}

void timerThread(std::shared_ptr<coretimer::State> s) {
  std::unique_lock lock(s->mutex);
  while (!s->stopRequested) {
    const bool manual = timers::manualMode();
    const bool tickDue = s->ticksDone < s->ticksRequested;
    const bool periodDue = !manual && Clock::now() >= s->deadline;
    if (!tickDue && !periodDue) {
      if (manual) {
        s->cv.wait(lock);
      } else {
        s->cv.wait_until(lock, s->deadline);
      }
      continue;
    }
    const uint64_t ticket = tickDue ? s->ticksDone + 1 : 0;
    const uint64_t generation = s->generation;
    coretimer* owner = s->owner;
    lock.unlock();
    const bool result = runCallback(owner);
    lock.lock();
    if (ticket != 0) {
      s->ticksDone = ticket;
      s->tickResults[ticket] = result;
    } else if (generation == s->generation) {
      // Keep the rhythm of the period; a pass that overran skips the periods it missed.
      const auto period = std::chrono::milliseconds(s->periodMs);
      s->deadline += period;
      const auto now = Clock::now();
      if (s->deadline <= now) s->deadline = now + period;
    }  // else StartTimer gave a new period during the pass and set the deadline itself
    s->cv.notify_all();
  }
  // Stopped: pending ticks are dropped (their waiters get no result).
  s->ticksDone = s->ticksRequested;
  s->threadAlive = false;
  s->threadId = {};
  s->cv.notify_all();
}

// Stops the timer; waits for its thread to end unless called on that thread (from the
// callback), where waiting would never end. True when the timer was started.
bool stopTimer(const std::shared_ptr<coretimer::State>& s) {
  std::thread finished;
  bool wasStarted;
  {
    std::unique_lock lock(s->mutex);
    wasStarted = s->started();
    if (s->threadAlive) {
      s->stopRequested = true;
      s->cv.notify_all();
      if (std::this_thread::get_id() == s->threadId) return wasStarted;
      // A StartTimer from another thread may revive it before it ends: the later call wins.
      ++s->stopWaiters;
      s->cv.wait(lock, [&] { return !s->threadAlive || !s->stopRequested; });
      --s->stopWaiters;
    }
    if (!s->threadAlive && s->thread.joinable()) finished = std::move(s->thread);
  }
  if (finished.joinable()) finished.join();
  return wasStarted;
}

}  // namespace

coretimer::State::~State() {
  if (!thread.joinable()) return;
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();  // the timer's own thread dropped the last reference on its way out
  } else {
    thread.join();
  }
}

coretimer::coretimer() : state_(std::make_shared<State>()) {
  state_->owner = this;
  timers::registerTimer(state_);
}

coretimer::~coretimer() {
  const bool wasStarted = stopTimer(state_);
  {
    std::lock_guard lock(state_->mutex);
    state_->owner = nullptr;  // even a timer stopped from its own callback never calls back again
  }
  if (wasStarted) {
    if (HostObserver* observer = hostObserver()) observer->onTimerStop();
  }
}

bool coretimer::StartTimer(uint32_t periodMs) {
  if (periodMs == 0) return false;
  {
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    // A stop that another thread is waiting for prevails over a restart by the very pass it
    // waits for; otherwise that pass could outlive StopTimerWithWait.
    if (s.stopWaiters > 0 && std::this_thread::get_id() == s.threadId) return false;
    s.periodMs = periodMs;
    s.deadline = Clock::now() + std::chrono::milliseconds(periodMs);
    ++s.generation;
    s.stopRequested = false;
    if (!s.threadAlive) {
      // An ended thread nobody joined yet: it let go of the mutex for good, so joining here
      // is immediate.
      if (s.thread.joinable()) s.thread.join();
      try {
        s.thread = std::thread(timerThread, state_);
      } catch (const std::system_error& e) {
        runtime::log(Error, L"timer thread could not be started: %s", corestring::fromUtf8(e.what()));
        return false;
      }
      s.threadAlive = true;
      s.threadId = s.thread.get_id();
      s.startSeq = timers::nextStartSeq();
    }
    s.cv.notify_all();
  }
  if (HostObserver* observer = hostObserver()) observer->onTimerStart(periodMs);
  return true;
}

void coretimer::StopTimerWithWait() {
  stopTimer(state_);
  if (HostObserver* observer = hostObserver()) observer->onTimerStop();
}

bool coretimer::isRunning() const {
  std::lock_guard lock(state_->mutex);
  return state_->started();
}

}  // namespace CORE
