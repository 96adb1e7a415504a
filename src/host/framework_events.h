// Connects the framework's notifications to the event sink.
//
// Covers the host observer, the external logger pointer and the stand-in help-desk worker.
#pragma once
#include <atomic>

#include "event_sink.h"
#include "metrics/figures_cache.h"
#include "varnel/host_control.h"
#include "well_known_names.h"

namespace vhost {

using well_known::kHelpdeskWorker;

// While it lives, everything the framework reports (and every line through corelogExternal)
// becomes an event on `sink`. One instance at a time: the logger pointer and the help-desk
// worker are process-wide.
class FrameworkEvents : public CORE::HostObserver {
 public:
  explicit FrameworkEvents(EventSink& sink);
  ~FrameworkEvents() override;
  FrameworkEvents(const FrameworkEvents&) = delete;
  FrameworkEvents& operator=(const FrameworkEvents&) = delete;

  // Installs or removes the stand-in help-desk worker, which reports every message it gets.
  bool setHelpdesk(bool installed);
  // A message the help-desk worker received.
  // While set, the figures behind the metrics endpoint see the broadcasts, help-desk messages
  // and timer passes too. Set before the plug-in starts, cleared after it ended.
  void setFigures(FiguresCache* figures) { figures_.store(figures, std::memory_order_release); }

  void onHelpdeskMessage(const CORE::corestring& worker, const CORE::corestring& op, const CORE::PropertyBag& bag);

  void onSysMessage(int level, const std::wstring& source, const std::wstring& text) override;
  void onExternalLog(const std::wstring& component, int logLevel, const std::wstring& text) override;
  void onLoaded(const std::wstring& moduleName) override;
  void onBroadcast(const CORE::corestring& name1, const CORE::corestring& name2, const CORE::PropertyBag& bag) override;
  void onRegistryWrite(const CORE::corestring& path, uint32_t type, const CORE::corestring& value, bool ok) override;
  void onTimerStart(uint32_t periodMs) override;
  void onTimerStop() override;
  void onWorker(const CORE::corestring& name, bool added) override;
  void onTimerPass(uint64_t elapsedNs, bool result) override;

 private:
  EventSink& sink_;
  std::atomic<FiguresCache*> figures_{nullptr};
};

}  // namespace vhost
