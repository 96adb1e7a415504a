// Host-side controls of the stand-in framework, used by the runner and by tests (never by the
// plug-in): event observer, manual timers, requests with a chosen caller, registry access as an
// outside writer, and configuration sync.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "varnel/corestring.h"
#include "varnel/propertybag.h"

namespace CORE {

// Receives everything the framework does on the plug-in's behalf. Calls may come from any
// thread; the observer serialises what it prints. onWorker is called in the order the worker
// table changed, under the table's lock: it must not install or remove workers itself.
class HostObserver {
 public:
  virtual ~HostObserver() = default;
  virtual void onSysMessage(int /*level*/, const std::wstring& /*source*/, const std::wstring& /*text*/) {}
  virtual void onExternalLog(const std::wstring& /*component*/, int /*logLevel*/, const std::wstring& /*text*/) {}
  virtual void onLoaded(const std::wstring& /*moduleName*/) {}
  virtual void onBroadcast(const corestring& /*name1*/, const corestring& /*name2*/, const PropertyBag& /*bag*/) {}
  virtual void onRegistryWrite(const corestring& /*path*/, uint32_t /*type*/, const corestring& /*value*/, bool /*ok*/) {}
  virtual void onTimerStart(uint32_t /*periodMs*/) {}
  virtual void onTimerStop() {}
  // One run of a timer callback, on the timer's thread after it returned: how long it took
  // (steady clock) and its result.
  virtual void onTimerPass(uint64_t /*elapsedNs*/, bool /*result*/) {}
  virtual void onWorker(const corestring& /*name*/, bool /*added*/) {}
};

// Installs the observer (null: lines go to stderr). The observer must outlive its use.
VARNEL_API void setHostObserver(HostObserver* observer);
VARNEL_API HostObserver* hostObserver();

// Lowest system-message level passed to the observer (default 0, everything).
VARNEL_API void setLogLevel(int lowest);

// Manual timers: when on, started timers never fire by themselves; tickTimers runs the
// callback of every started timer now, each on its own thread (never beside a running
// callback of the same timer), waits for them and returns their results in start order.
// Called from a timer callback, it leaves that callback's own timer out.
VARNEL_API void setManualTimers(bool manual);
VARNEL_API std::vector<bool> tickTimers();

// Who the handler thread of a request acts as after Impersonate: an administrator, a user who
// is not one, or nobody (Impersonate fails and the thread keeps the service's identity).
enum class Caller { Admin, User, Unknown };

// Sends a request to an installed worker as the framework would (handler from the factory,
// MessageHandler, release) with `caller` as the requester. Empty when the worker is not
// installed; otherwise the handler's result (false when no handler was made or it threw).
VARNEL_API std::optional<bool> requestWorker(const corestring& worker, const corestring& op, PropertyBag& request,
                                             PropertyBag& reply, Caller caller);

// Blocks until the worker is installed (or not, when `installed` is false) or the time is up;
// returns the final state.
VARNEL_API bool waitForWorker(const corestring& name, bool installed, uint32_t timeoutMs);

// Installs or removes a stand-in worker whose handlers pass every message to `sink` and answer
// true. Installing fails when the name is taken; removing touches only stand-in workers. The
// observer sees both as worker added/removed.
using WorkerSink = void (*)(const corestring& worker, const corestring& op, const PropertyBag& bag);
VARNEL_API bool installSinkWorker(const corestring& name, WorkerSink sink);
VARNEL_API bool removeSinkWorker(const corestring& name);

// Registry access as an outside writer (no regwrite event). Types: 1 SZ, 4 DWORD, 7 MULTI_SZ.
struct RegistryValue {
  uint32_t type = 0;
  corestring text;                // SZ, or DWORD as decimal
  std::vector<corestring> items;  // MULTI_SZ
};
VARNEL_API std::optional<RegistryValue> registryRead(const corestring& path);
VARNEL_API bool registryWrite(const corestring& path, const RegistryValue& value);

// Re-reads every key bound by a sysconfig and returns once every resulting `changed` call has
// returned (each change is delivered once, whoever notices it first).
VARNEL_API void syncConfiguration();

}  // namespace CORE
