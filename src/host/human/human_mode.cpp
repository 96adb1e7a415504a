// Human mode's lines for people, written through the event sink.
#include "human/human_mode.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "human/summary_lines.h"
#include "stop_signal.h"
#include "varnel/host_control.h"
#include "winapi.h"

namespace vhost {

namespace {

constexpr wchar_t kPerfmon[] = L"perfmon";
constexpr uint32_t kWorkerWaitMs = 10000;
// Without a time limit the loop still looks at `stop` this often, should a stop come from
// something other than a signal.
constexpr auto kLongestWait = std::chrono::minutes(1);

// The running processes, from the list of their ids: far cheaper than a snapshot, which reads
// every process's files. A full buffer may have been too small, so it is asked again larger.
std::optional<size_t> processCount() {
  std::vector<DWORD> ids(4096);
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) return std::nullopt;
    const size_t count = bytes / sizeof(DWORD);
    if (count < ids.size()) return count - static_cast<size_t>(std::count(ids.begin(), ids.begin() + count, 0u));
    ids.resize(ids.size() * 2);
  }
  return std::nullopt;
}

}  // namespace

std::optional<MachineSample> completePass(PassSummary& pass, MachineSampler* sampler) {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status)) {
    pass.totalBytes = status.ullTotalPhys;
    pass.availableBytes = status.ullAvailPhys;
  }
  if (sampler == nullptr) {
    pass.processes = processCount();
    return std::nullopt;
  }
  std::optional<MachineSample> sample = sampler->sample();
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
  // The loop sleeps until a pass, the timer's start or a stop signal wakes it: an idle monitor
  // costs nothing between passes, and Ctrl-C is answered at once.
  StopWaker waker([this] { passes_.wake(); });
  while (!stop()) {
    const auto now = std::chrono::steady_clock::now();
    if (seconds && now >= deadline) break;
    announce();
    const auto wait = seconds ? std::min<std::chrono::steady_clock::duration>(deadline - now, kLongestWait)
                              : std::chrono::steady_clock::duration(kLongestWait);
    for (PassSummary& pass : passes_.takePasses(std::chrono::ceil<std::chrono::milliseconds>(wait))) {
      passSeen_ = true;
      completePass(pass, nullptr);
      sink_.note(summaryLine(pass));
      if (const std::string counters = countersLine(pass.counters); !counters.empty()) sink_.note(counters);
    }
  }
}

}  // namespace vhost
