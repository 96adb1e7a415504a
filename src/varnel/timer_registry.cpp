// The process-wide registry of timers and the host's manual ticks: setManualTimers and
// tickTimers run started timers' callbacks on demand, each on the timer's own thread.
#include <algorithm>
#include <atomic>
#include <vector>

#include "timer_state.h"
#include "varnel/host_control.h"

namespace CORE {
namespace {

using StatePtr = std::shared_ptr<coretimer::State>;

// Weak references only: a destroyed timer is gone from here as soon as its last owner is.
// Lock order: this lock is a leaf; it is released before any timer's mutex is taken.
struct TimerRegistry {
  std::mutex mutex;
  std::vector<std::weak_ptr<coretimer::State>> timers;
};

TimerRegistry& registry() {
  static TimerRegistry* const instance = new TimerRegistry;  // lives as long as the process
  return *instance;
}

std::atomic<bool> g_manual{false};
std::atomic<uint64_t> g_startSeq{0};

std::vector<StatePtr> liveTimers() {
  TimerRegistry& r = registry();
  std::lock_guard lock(r.mutex);
  std::vector<StatePtr> live;
  live.reserve(r.timers.size());
  std::erase_if(r.timers, [&](const std::weak_ptr<coretimer::State>& weak) {
    StatePtr state = weak.lock();
    if (!state) return true;
    live.push_back(std::move(state));
    return false;
  });
  return live;
}

}  // namespace

namespace timers {

void registerTimer(const StatePtr& state) {
  TimerRegistry& r = registry();
  std::lock_guard lock(r.mutex);
  r.timers.push_back(state);
}

uint64_t nextStartSeq() { return g_startSeq.fetch_add(1, std::memory_order_relaxed) + 1; }

bool manualMode() { return g_manual.load(std::memory_order_acquire); }

}  // namespace timers

void setManualTimers(bool manual) {
  g_manual.store(manual, std::memory_order_release);
  // Wake every timer thread so that it re-reads the mode under its own mutex.
  for (const StatePtr& state : liveTimers()) {
    std::lock_guard lock(state->mutex);
    state->cv.notify_all();
  }
}

std::vector<bool> tickTimers() {
  struct Ticket {
    StatePtr state;
    uint64_t startSeq;
    uint64_t number = 0;
  };
  std::vector<Ticket> tickets;
  for (StatePtr& state : liveTimers()) {
    std::lock_guard lock(state->mutex);
    // A callback that ticks must not wait for its own timer's thread, which is itself.
    if (!state->started() || state->owner == nullptr || state->threadId == std::this_thread::get_id()) continue;
    tickets.push_back({std::move(state), 0});
    tickets.back().startSeq = tickets.back().state->startSeq;
  }
  std::sort(tickets.begin(), tickets.end(), [](const Ticket& a, const Ticket& b) { return a.startSeq < b.startSeq; });

  // Ask every timer first, so that the callbacks run side by side, then collect in order. A
  // timer stopped in between gets no ticket: nobody would ever serve it.
  std::erase_if(tickets, [](Ticket& t) {
    std::lock_guard lock(t.state->mutex);
    if (!t.state->started()) return true;
    t.number = ++t.state->ticksRequested;
    t.state->cv.notify_all();
    return false;
  });
  std::vector<bool> results;
  for (Ticket& t : tickets) {
    coretimer::State& s = *t.state;
    std::unique_lock lock(s.mutex);
    s.cv.wait(lock, [&] { return s.ticksDone >= t.number; });
    auto it = s.tickResults.find(t.number);
    if (it == s.tickResults.end()) continue;  // stopped before its turn came
    results.push_back(it->second);
    s.tickResults.erase(it);
  }
  return results;
}

}  // namespace CORE
