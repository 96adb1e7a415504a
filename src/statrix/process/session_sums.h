// Per-session sums of one process walk: CPU time used and private bytes held, by session id.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct SessionFigures {
  uint32_t sessionId = 0;
  int64_t cpuTime = 0;       // 100 ns used during the pass interval
  int64_t privateBytes = 0;  // private bytes held at the pass
};

// A small map kept as a sorted vector: a machine has few sessions, and clearing keeps the
// storage, so a walk over known sessions allocates nothing.
class SessionSums {
 public:
  void clear() {
    sessions_.clear();
    last_ = 0;
  }
  // Adds one process's figures to its session, creating the session at 0 first.
  void add(uint32_t sessionId, int64_t cpuTime, int64_t privateBytes);

  // Ascending by session id.
  const std::vector<SessionFigures>& sessions() const { return sessions_; }
  const SessionFigures* find(uint32_t sessionId) const;

 private:
  std::vector<SessionFigures> sessions_;
  size_t last_ = 0;  // the session added to last: neighbouring processes mostly share one
};
