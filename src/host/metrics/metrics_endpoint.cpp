// Wiring of the metrics endpoint.
#include "metrics/metrics_endpoint.h"

#include "metrics/broken_pipe.h"
#include "metrics/machine_memory.h"
#include "varnel/host_control.h"

namespace vhost {

namespace {

// The runner asks as the host itself would, with an administrator's rights.
std::optional<bool> askPerfmon(const std::wstring& op, CORE::PropertyBag& request, CORE::PropertyBag& reply) {
  return CORE::requestWorker(kPerfmonWorker, op, request, reply, CORE::Caller::Admin);
}

constexpr uint32_t kPrimeWaitMs = 10000;

}  // namespace

MetricsEndpoint::MetricsEndpoint(FrameworkEvents& framework)
    : framework_(framework),
      figures_(askPerfmon, readMachineMemory),
      server_([this] { return figures_.scrape(); }) {
  framework_.setFigures(&figures_);
}

MetricsEndpoint::~MetricsEndpoint() {
  stop();
  framework_.setFigures(nullptr);
}

bool MetricsEndpoint::start(const ListenAddress& address, std::string& error) {
  // A client that hangs up while its answer is written must not end the runner.
  ignoreBrokenPipe();
  return server_.start(address, error);
}

void MetricsEndpoint::prime() {
  if (CORE::waitForWorker(kPerfmonWorker, true, kPrimeWaitMs)) figures_.round();
}

void MetricsEndpoint::stop() { server_.stop(); }

}  // namespace vhost
