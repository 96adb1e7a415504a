// The framework's notifications as events.
#include "framework_events.h"

#include <atomic>
#include <cassert>

#include "events.h"
#include "json.h"
#include "varnel/logging.h"

namespace vhost {

namespace {

// The logger pointer and the worker sink are plain function pointers; they reach the live
// instance through this.
std::atomic<FrameworkEvents*> current{nullptr};

void externalLog(const wchar_t* component, int logLevel, const wchar_t* format, const CORE::FormatArg* args,
                 size_t count) {
  FrameworkEvents* events = current.load(std::memory_order_acquire);
  if (events == nullptr) return;
  std::wstring text = format ? CORE::formatMessage(format, args, count) : std::wstring();
  events->onExternalLog(component ? component : L"", logLevel, text);
}

void helpdeskMessage(const CORE::corestring& worker, const CORE::corestring& op, const CORE::PropertyBag& bag) {
  FrameworkEvents* events = current.load(std::memory_order_acquire);
  if (events != nullptr) events->onHelpdeskMessage(worker, op, bag);
}

}  // namespace

FrameworkEvents::FrameworkEvents(EventSink& sink) : sink_(sink) {
  [[maybe_unused]] FrameworkEvents* previous = current.exchange(this, std::memory_order_acq_rel);
  assert(previous == nullptr);
  CORE::setHostObserver(this);
  CORE::corelogExternal = &externalLog;
}

FrameworkEvents::~FrameworkEvents() {
  CORE::corelogExternal = nullptr;
  CORE::setHostObserver(nullptr);
  current.store(nullptr, std::memory_order_release);
}

bool FrameworkEvents::setHelpdesk(bool installed) {
  return installed ? CORE::installSinkWorker(kHelpdeskWorker, &helpdeskMessage)
                   : CORE::removeSinkWorker(kHelpdeskWorker);
}

void FrameworkEvents::onHelpdeskMessage(const CORE::corestring& worker, const CORE::corestring& op,
                                        const CORE::PropertyBag& bag) {
  if (FiguresCache* figures = figures_.load(std::memory_order_acquire)) figures->observeHelpdesk(op.utf8(), bag);
  sink_.emit(events::message(worker, op, bag));
}

void FrameworkEvents::onSysMessage(int level, const std::wstring& source, const std::wstring& text) {
  if (PassFigures* passes = passes_.load(std::memory_order_acquire)) passes->observeLog(utf8(text));
  sink_.emit(events::sysLog(level, source, text));
}
void FrameworkEvents::onExternalLog(const std::wstring& component, int logLevel, const std::wstring& text) {
  sink_.emit(events::externalLog(component, logLevel, text));
}
void FrameworkEvents::onLoaded(const std::wstring& moduleName) { sink_.emit(events::loaded(moduleName)); }
void FrameworkEvents::onBroadcast(const CORE::corestring& name1, const CORE::corestring& name2,
                                  const CORE::PropertyBag& bag) {
  if (FiguresCache* figures = figures_.load(std::memory_order_acquire))
    figures->observeBroadcast(name1.utf8(), name2.utf8(), bag);
  Json event = events::broadcast(name1, name2, bag);
  if (PassFigures* passes = passes_.load(std::memory_order_acquire)) passes->observeBroadcast(event);
  sink_.emit(event);
}
void FrameworkEvents::onRegistryWrite(const CORE::corestring& path, uint32_t type, const CORE::corestring& value,
                                      bool ok) {
  if (PassFigures* passes = passes_.load(std::memory_order_acquire))
    passes->observeRegistryWrite(path.utf8(), value.utf8(), ok);
  sink_.emit(events::regwrite(path, type, value, ok));
}
void FrameworkEvents::onTimerStart(uint32_t periodMs) {
  if (FiguresCache* figures = figures_.load(std::memory_order_acquire)) figures->observeTimerStart();
  if (PassFigures* passes = passes_.load(std::memory_order_acquire)) passes->observeTimerStart(periodMs);
  sink_.emit(events::timerStart(periodMs));
}
void FrameworkEvents::onTimerStop() {
  if (FiguresCache* figures = figures_.load(std::memory_order_acquire)) figures->observeTimerStop();
  sink_.emit(events::timerStop());
}
void FrameworkEvents::onTimerPass(uint64_t elapsedNs, bool result) {
  if (FiguresCache* figures = figures_.load(std::memory_order_acquire)) figures->observeTimerPass(elapsedNs, result);
  if (PassFigures* passes = passes_.load(std::memory_order_acquire)) passes->observeTimerPass(elapsedNs, result);
}
void FrameworkEvents::onWorker(const CORE::corestring& name, bool added) {
  sink_.emit(events::workerChanged(name, added));
}

}  // namespace vhost
