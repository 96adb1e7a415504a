// Human mode's lines for people, written through the event sink.
#include "human/human_mode.h"

#include <chrono>

#include "human/summary_lines.h"
#include "varnel/host_control.h"
#include "winapi.h"

namespace vhost {

namespace {

constexpr wchar_t kPerfmon[] = L"perfmon";
constexpr uint32_t kWorkerWaitMs = 10000;

}  // namespace

std::optional<MachineSample> completePass(PassSummary& pass, MachineSampler& sampler) {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status)) {
    pass.totalBytes = status.ullTotalPhys;
    pass.availableBytes = status.ullAvailPhys;
  }
  std::optional<MachineSample> sample = sampler.sample();
  if (sample) pass.processes = sample->processes.size();
  return sample;
}

void firstCollection() {
  CORE::PropertyBag request, reply;
  CORE::requestWorker(kPerfmon, L"collectCpuAndMem", request, reply, CORE::Caller::Admin);
}

void HumanMode::announce() {
  if (announced_ || passSeen_) return;
  if (std::optional<uint32_t> period = passes_.timerPeriodMs()) {
    sink_.note(firstFiguresLine(*period));
    announced_ = true;
  }
}

void HumanMode::start(const std::function<void()>& collect) {
  if (!CORE::waitForWorker(kPerfmon, true, kWorkerWaitMs)) return;
  announce();
  collect();
  const std::string line = earlyFailuresLine(passes_.earlyCounterFailures(), passes_.timerPeriodMs());
  if (!line.empty()) sink_.note(line);
}

void HumanMode::run(std::optional<uint32_t> seconds, const std::function<bool()>& stop) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds.value_or(0));
  while (!stop() && (!seconds || std::chrono::steady_clock::now() < deadline)) {
    announce();
    for (PassSummary& pass : passes_.takePasses(std::chrono::milliseconds(50))) {
      passSeen_ = true;
      completePass(pass, sampler_);
      sink_.note(summaryLine(pass));
      if (const std::string counters = countersLine(pass.counters); !counters.empty()) sink_.note(counters);
    }
  }
}

}  // namespace vhost
