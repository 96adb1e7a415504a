// The live view's loop: keys and redraws on the main thread, one machine sample per pass.
#include "top/top_view.h"

#include <algorithm>
#include <chrono>

#include "human/human_mode.h"
#include "top/top_model.h"
#include "top/top_screen.h"

namespace vhost {

namespace {

// Owners are looked up only for the processes on screen, once per process.
void lookUpUsers(TopModel& model, size_t rows) {
  for (bool byCpu : {true, false})
    for (const ProcessShare* p : model.busiest(byCpu, rows))
      if (!model.users.contains(p->pid)) model.users[p->pid] = processUser(p->pid);
}

}  // namespace

void runTopView(PassFigures& passes, const std::string& endpoint, std::optional<uint32_t> seconds,
                const std::function<bool()>& stop) {
  TopScreen screen;
  TopModel model;
  model.endpoint = endpoint;
  MachineSampler sampler;
  // A sample at start gives the first pass its CPU shares.
  std::optional<MachineSample> previous = sampler.sample();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds.value_or(0));
  auto nextClock = std::chrono::steady_clock::now();
  bool dirty = true;
  while (!stop() && (!seconds || std::chrono::steady_clock::now() < deadline)) {
    for (PassSummary& pass : passes.takePasses(std::chrono::milliseconds(0))) {
      std::optional<MachineSample> sample = completePass(pass, &sampler);
      model.addPass(pass);
      if (sample) {
        model.shares = processShares(previous ? &*previous : nullptr, *sample, pass.totalBytes.value_or(0));
        // Owners of pids that are gone are forgotten, so a reused pid is looked up again.
        const std::vector<ProcessEntry>& live = sample->processes;
        std::erase_if(model.users, [&](const auto& user) {
          auto at = std::lower_bound(live.begin(), live.end(), user.first,
                                     [](const ProcessEntry& e, uint32_t pid) { return e.pid < pid; });
          return at == live.end() || at->pid != user.first;
        });
        previous = std::move(sample);
      }
      dirty = true;
    }
    model.periodMs = passes.timerPeriodMs();
    model.consumers = passes.latestConsumers();
    model.alarms = passes.alarms(&model.alarmTotal);
    const auto now = std::chrono::steady_clock::now();
    if (dirty || now >= nextClock) {
      lookUpUsers(model, static_cast<size_t>(std::max(screen.height(), 0)));
      screen.draw(renderTop(model, screen.width(), screen.height(), screen.unicode(), now));
      nextClock = now + std::chrono::seconds(1);
      dirty = false;
    }
    const TopScreen::Key key = screen.waitKey(100);
    if (key == TopScreen::Key::Quit) break;
    if (key == TopScreen::Key::Resize) dirty = true;
  }
}

}  // namespace vhost
