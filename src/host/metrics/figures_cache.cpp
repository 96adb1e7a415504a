// Observed figures and the shared request round of a scrape.
#include "metrics/figures_cache.h"

#include <exception>

#include "metrics/metrics_exposition.h"

namespace vhost {

FiguresCache::FiguresCache(Requester requester, MemoryReader memory)
    : requester_(std::move(requester)), memory_(std::move(memory)) {}

void FiguresCache::observeBroadcast(const std::string& name1, const std::string& name2,
                                    const CORE::PropertyBag& bag) {
  std::optional<AlarmKind> kind = alarmOf(name1, name2, bag);
  if (!kind) return;
  std::lock_guard lock(stateMutex_);
  ++observed_.alarms[static_cast<size_t>(*kind)];
}

void FiguresCache::observeHelpdesk(const std::string& op, const CORE::PropertyBag& bag) {
  (void)op;  // the stand-in worker gets every message under the one operation
  std::map<uint32_t, int64_t> cpu, memory;
  if (!readHelpdeskSessions(bag, cpu, memory)) return;
  std::lock_guard lock(stateMutex_);
  observed_.sessionCpu = std::move(cpu);
  observed_.sessionMemory = std::move(memory);
}

void FiguresCache::observeTimerStart() {
  std::lock_guard lock(stateMutex_);
  observed_.timerRunning = true;
}

void FiguresCache::observeTimerStop() {
  std::lock_guard lock(stateMutex_);
  observed_.timerRunning = false;
}

void FiguresCache::observeTimerPass(uint64_t elapsedNs, bool result) {
  const double seconds = static_cast<double>(elapsedNs) / 1e9;
  size_t bucket = 0;
  while (bucket < kPassBuckets.size() && seconds > kPassBuckets[bucket]) ++bucket;
  std::lock_guard lock(stateMutex_);
  ++observed_.passBuckets[bucket];
  ++observed_.passCount;
  observed_.passSeconds += seconds;
  observed_.lastPassOk = result;
}

ObservedFigures FiguresCache::observed() const {
  std::lock_guard lock(stateMutex_);
  return observed_;
}

RoundFigures FiguresCache::runRound() {
  RoundFigures figures;
  if (std::optional<Memory> memory = memory_ ? memory_() : std::nullopt) {
    figures.totalBytes = memory->totalBytes;
    figures.availableBytes = memory->availableBytes;
  }
  // The first "collectCpuAndMem" of the process announces the default metrics into its
  // request: their definitions label the values from then on.
  CORE::PropertyBag request, reply;
  std::optional<bool> served = requester_(L"collectCpuAndMem", request, reply);
  DefinitionMap definitions;
  {
    std::lock_guard lock(stateMutex_);
    learnDefinitions(request, definitions_);
    definitions = definitions_;
  }
  if (served.value_or(false)) readCpuMemReply(reply, definitions, figures);

  CORE::PropertyBag countersRequest, countersReply;
  if (requester_(L"collect", countersRequest, countersReply).value_or(false))
    readCountersReply(countersReply, figures);
  return figures;
}

std::shared_ptr<const RoundFigures> FiguresCache::round() {
  std::unique_lock lock(roundMutex_);
  if (roundInFlight_) {
    // Join the round in flight rather than start another: at most one round at a time.
    const uint64_t waitingFor = roundsDone_ + 1;
    ++joined_;
    roundDone_.wait(lock, [&] { return roundsDone_ >= waitingFor; });
    --joined_;
    return lastRound_;
  }
  roundInFlight_ = true;
  lock.unlock();
  std::shared_ptr<const RoundFigures> result;
  try {
    result = std::make_shared<const RoundFigures>(runRound());
  } catch (const std::exception&) {
    result = std::make_shared<const RoundFigures>();  // a failed round serves no request figures
  }
  lock.lock();
  lastRound_ = result;
  roundInFlight_ = false;
  ++roundsDone_;
  roundDone_.notify_all();
  return result;
}

size_t FiguresCache::scrapesJoined() {
  std::lock_guard lock(roundMutex_);
  return joined_;
}

std::string FiguresCache::scrape() {
  std::shared_ptr<const RoundFigures> figures = round();
  return renderMetrics(*figures, observed());
}

}  // namespace vhost
