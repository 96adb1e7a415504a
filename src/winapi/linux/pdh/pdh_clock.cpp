// The clock of PDH collection times.
#include <time.h>

#include <atomic>

#include "pdh/pdh_query.h"

namespace winapi_linux::pdh {

namespace {

uint64_t monotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(ts.tv_nsec);
}

std::atomic<CollectionClock> installed{nullptr};

}  // namespace

void setCollectionClock(CollectionClock clock) { installed.store(clock); }

uint64_t collectionTime() {
  CollectionClock clock = installed.load();
  return clock ? clock() : monotonicNs();
}

}  // namespace winapi_linux::pdh
