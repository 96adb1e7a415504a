// Human mode for people: from PluginInit to the stop, the wait for the first figures, one
// summary line per pass and the counter metrics, on the runner's main thread.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>

#include "event_sink.h"
#include "human/pass_figures.h"
#include "top/process_sample.h"

namespace vhost {

// Fills in the runner's part of a pass (memory in bytes, process count). With a sampler (the
// live view, which shows every process) the count comes from the machine sample it takes and
// returns; without, from the list of process ids alone.
std::optional<MachineSample> completePass(PassSummary& pass, MachineSampler* sampler);

// The plug-in loads its default counter metrics with its first "collectCpuAndMem"; without
// the endpoint (which asks at start on its own) the runner asks once itself.
void firstCollection();

class HumanMode {
 public:
  HumanMode(EventSink& sink, PassFigures& passes) : sink_(sink), passes_(passes) {}

  // Once the plug-in is initialised: waits a while for its worker, says when the first figures
  // come, runs `collect` (the first collection of the counter metrics) and explains its failed
  // reads when they failed only for want of a second collection.
  void start(const std::function<void()>& collect);
  // Shows each pass until `stop` says so or `seconds` have passed.
  void run(std::optional<uint32_t> seconds, const std::function<bool()>& stop);

 private:
  void announce();

  EventSink& sink_;
  PassFigures& passes_;
  bool announced_ = false;
  bool passSeen_ = false;
};

}  // namespace vhost
