// The figures behind the metrics endpoint: what the runner observes of the plug-in (alarm
// broadcasts, help-desk messages, timer passes) and one round of requests to its worker per
// scrape, shared by the scrapes that arrive while it runs.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "metrics/figure_parsers.h"
#include "metrics/host_figures.h"
#include "varnel/propertybag.h"

namespace vhost {

class FiguresCache {
 public:
  // Sends one request to the plug-in's worker; empty when the worker is not installed.
  using Requester =
      std::function<std::optional<bool>(const std::wstring& op, CORE::PropertyBag& request, CORE::PropertyBag& reply)>;
  struct Memory {
    uint64_t totalBytes = 0, availableBytes = 0;
  };
  // The machine's memory status in bytes, empty when it cannot be read.
  using MemoryReader = std::function<std::optional<Memory>()>;

  FiguresCache(Requester requester, MemoryReader memory);
  FiguresCache(const FiguresCache&) = delete;
  FiguresCache& operator=(const FiguresCache&) = delete;

  // Observations; any thread, each takes the state lock briefly and never waits on a scrape.
  void observeBroadcast(const std::string& name1, const std::string& name2, const CORE::PropertyBag& bag);
  void observeHelpdesk(const std::string& op, const CORE::PropertyBag& bag);
  void observeTimerStart();
  void observeTimerStop();
  void observeTimerPass(uint64_t elapsedNs, bool result);

  // One scrape: the figures of a fresh round (or of the round in flight when it began) and
  // of what was observed, as Prometheus text.
  std::string scrape();
  // Runs (or joins) one round; exposed so the runner can prime the definitions at start.
  std::shared_ptr<const RoundFigures> round();

  ObservedFigures observed() const;
  // Scrapes now waiting for the round in flight (they will share its result).
  size_t scrapesJoined();

 private:
  RoundFigures runRound();

  const Requester requester_;
  const MemoryReader memory_;

  // Lock order: roundMutex_ is never held while a round runs, nor together with stateMutex_.
  std::mutex roundMutex_;             // guards the five members below
  std::condition_variable roundDone_;
  bool roundInFlight_ = false;
  uint64_t roundsDone_ = 0;
  size_t joined_ = 0;
  std::shared_ptr<const RoundFigures> lastRound_;

  mutable std::mutex stateMutex_;  // guards observed_ and definitions_
  ObservedFigures observed_;
  DefinitionMap definitions_;
};

}  // namespace vhost
