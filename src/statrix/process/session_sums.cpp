// Per-session sums: sorted-vector map with a shortcut for runs of the same session.
#include "process/session_sums.h"

#include <algorithm>
#include <limits>

namespace {

auto lowerBound(const std::vector<SessionFigures>& sessions, uint32_t sessionId) {
  return std::lower_bound(sessions.begin(), sessions.end(), sessionId,
                          [](const SessionFigures& s, uint32_t id) { return s.sessionId < id; });
}

// The limit an overflowing sum stops at: the direction of the addend that overflowed it.
int64_t saturated(int64_t addend) {
  return addend > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

}  // namespace

void SessionSums::add(uint32_t sessionId, int64_t cpuTime, int64_t privateBytes) {
  if (last_ >= sessions_.size() || sessions_[last_].sessionId != sessionId) {
    auto it = lowerBound(sessions_, sessionId);
    if (it == sessions_.end() || it->sessionId != sessionId) it = sessions_.insert(it, SessionFigures{sessionId, 0, 0});
    last_ = static_cast<size_t>(it - sessions_.begin());
  }
  // Saturating: a figure beyond 63 bits stays at the largest value instead of overflowing.
  SessionFigures& figures = sessions_[last_];
  if (__builtin_add_overflow(figures.cpuTime, cpuTime, &figures.cpuTime)) figures.cpuTime = saturated(cpuTime);
  if (__builtin_add_overflow(figures.privateBytes, privateBytes, &figures.privateBytes)) {
    figures.privateBytes = saturated(privateBytes);
  }
}

const SessionFigures* SessionSums::find(uint32_t sessionId) const {
  auto it = lowerBound(sessions_, sessionId);
  return (it != sessions_.end() && it->sessionId == sessionId) ? &*it : nullptr;
}
