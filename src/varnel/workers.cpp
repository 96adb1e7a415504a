// The worker table: names to factories, with the observer told of every change in table
// order, and waiters woken.
#include "workers.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "varnel/host_control.h"

namespace CORE::workers {
namespace {

struct Worker {
  Factory factory;
  bool sink = false;
};

// The lock is a leaf except for the observer's onWorker, which is called under it so that
// events come out in the order the table changed; an observer must not call back into
// worker registration.
struct Table {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<corestring, Worker, corestringLessI> workers;
};

Table& table() {
  static Table* const instance = new Table;  // lives as long as the process
  return *instance;
}

void report(const corestring& name, bool added) {
  if (HostObserver* observer = hostObserver()) observer->onWorker(name, added);
}

}  // namespace

bool add(const corestring& name, Factory factory, bool sink) {
  Table& t = table();
  std::lock_guard lock(t.mutex);
  if (!t.workers.try_emplace(name, Worker{std::move(factory), sink}).second) return false;
  report(name, true);
  t.changed.notify_all();
  return true;
}

bool remove(const corestring& name, bool onlySink) {
  Table& t = table();
  std::lock_guard lock(t.mutex);
  auto it = t.workers.find(name);
  if (it == t.workers.end() || (onlySink && !it->second.sink)) return false;
  const corestring spelled = it->first;  // as it was installed
  t.workers.erase(it);
  report(spelled, false);
  t.changed.notify_all();
  return true;
}

std::optional<Factory> factoryOf(const corestring& name) {
  Table& t = table();
  std::lock_guard lock(t.mutex);
  auto it = t.workers.find(name);
  if (it == t.workers.end()) return std::nullopt;
  return it->second.factory;
}

bool installed(const corestring& name) {
  Table& t = table();
  std::lock_guard lock(t.mutex);
  return t.workers.contains(name);
}

bool waitFor(const corestring& name, bool wanted, uint32_t timeoutMs) {
  Table& t = table();
  std::unique_lock lock(t.mutex);
  auto done = [&] { return t.workers.contains(name) == wanted; };
  if (timeoutMs == 0xFFFFFFFFu) {
    t.changed.wait(lock, done);
  } else {
    t.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
  }
  return t.workers.contains(name);
}

}  // namespace CORE::workers
