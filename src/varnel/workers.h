// The framework's table of installed workers, keyed by name ignoring case.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>

#include "varnel/corestring.h"
#include "varnel/messaging.h"

namespace CORE::workers {

// Makes one handler holding one reference, or null.
using Factory = std::function<WorkItem*()>;

// Installs a worker; false when the name is taken. `sink` marks the host's stand-in workers.
bool add(const corestring& name, Factory factory, bool sink);
// Removes a worker (only a stand-in one when `onlySink`); false when there was none.
bool remove(const corestring& name, bool onlySink);
// A copy of the worker's factory, to be called without the table's lock: a request may run
// while its worker is being removed, and a handler already made finishes normally.
std::optional<Factory> factoryOf(const corestring& name);
bool installed(const corestring& name);
// Waits until the worker is installed (or not) or the time is up; the final state.
bool waitFor(const corestring& name, bool installed, uint32_t timeoutMs);

}  // namespace CORE::workers
