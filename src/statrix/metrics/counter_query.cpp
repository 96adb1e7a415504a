// The counter query: adding, removing, rebuilding and collecting counters, with the two-strike rule.
#include "metrics/counter_query.h"

#include "frame/log.h"
#include "metrics/counter_names.h"

namespace {

MetricValue valueOf(const CounterEntry& entry) {
  return {entry.definition, static_cast<double>(entry.definition.dwScale) * entry.rawValue};
}

uint32_t hex(PDH_STATUS status) { return static_cast<uint32_t>(status); }

}  // namespace

bool CounterQuery::addToQuery(CounterEntry& entry, PdhQueryHandle& query) {
  entry.path = buildCounterPath(*pdh_, *names_, entry.definition);
  if (!query.isOpen()) {
    const PDH_STATUS status = query.open();
    if (status != 0) {
      LogMessage(CORE::Error, L"Failed to open perf query, error: 0x%x", hex(status));
      return false;
    }
  }
  const PDH_STATUS status = pdh_->addCounter(query.get(), entry.path.c_str(), 0, &entry.handle);
  if (status != 0) {
    entry.handle = nullptr;
    LogMessage(CORE::Error, L"Failed to add counter %s, error: 0x%x", entry.path, hex(status));
    return false;
  }
  return true;
}

bool CounterQuery::removeFromQuery(CounterEntry& entry) {
  if (entry.handle == nullptr) return true;
  const PDH_STATUS status = pdh_->removeCounter(entry.handle);
  if (status != 0) {
    LogMessage(CORE::Error, L"Failed to remove counter, error: 0x%x", hex(status));
    return false;
  }
  entry.handle = nullptr;
  return true;
}

PDH_STATUS CounterQuery::readCounterValue(CounterEntry& entry) {
  if (entry.handle == nullptr) return static_cast<PDH_STATUS>(PDH_INVALID_HANDLE);
  PDH_FMT_COUNTERVALUE value{};
  const PDH_STATUS status = pdh_->getFormattedCounterValue(entry.handle, PDH_FMT_DOUBLE, nullptr, &value);
  if (status != 0) return status;
  // A value whose own status says it is not valid is a failed read, even when the call succeeded.
  const auto cstatus = static_cast<PDH_STATUS>(value.CStatus);
  if (!isStatus(cstatus, PDH_CSTATUS_VALID_DATA) && !isStatus(cstatus, PDH_CSTATUS_NEW_DATA)) return cstatus;
  // A scaled value that no 64-bit integer holds (or no number at all) cannot be replied or
  // published truthfully: the read fails for this round instead of reporting a saturated figure.
  if (!fitsMetricValue(static_cast<double>(entry.definition.dwScale) * value.doubleValue)) {
    return static_cast<PDH_STATUS>(PDH_INVALID_DATA);
  }
  entry.rawValue = value.doubleValue;
  return 0;
}

void CounterQuery::addCounter(const MetricDefinition& definition) {
  CORE::corestring key = counterKey(definition);
  if (counterSet_.count(key) != 0) return;
  CounterEntry entry;
  entry.definition = definition;
  if (!addToQuery(entry, query_)) return;
  counterSet_.emplace(std::move(key), std::move(entry));
  LogMessage(CORE::Debug, L"Add counter: %s, %s, %s, metric: %s, metrics count: %d", definition.strCounterObject,
             definition.strCounter, definition.strInstance, definition.strMetricName, counterSet_.size());
}

void CounterQuery::probe() {
  MetricDefinition definition;
  definition.strCounterObject = L"Processor";
  definition.strCounter = L"% User Time";
  definition.strInstance = L"_Total";
  CounterEntry entry;
  entry.definition = definition;
  PdhQueryHandle temporary(*pdh_);
  if (addToQuery(entry, temporary)) {
    pdh_->collectQueryData(temporary.get());
  } else {
    LogMessage(CORE::Warn, L"Perf Counter update, failed to add counter");
  }
}

bool CounterQuery::sessionSeen() {
  if (activeSessionSeen_) return true;
  PWTS_SESSION_INFOW sessions = nullptr;
  DWORD count = 0;
  if (pdh_->enumerateSessions(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
    for (DWORD i = 0; sessions != nullptr && i < count; ++i) {
      if (sessions[i].State == WTSActive) activeSessionSeen_ = true;
    }
  } else {
    LogMessage(CORE::Error, L"Error to enumerate sessions, error code is 0x%x", static_cast<uint32_t>(GetLastError()));
  }
  if (sessions != nullptr) pdh_->freeMemory(sessions);
  return activeSessionSeen_;
}

void CounterQuery::updateCounters(const std::vector<MetricDefinition>& table) {
  probe();
  for (const MetricDefinition& definition : table) {
    if (definition.bSessionRelated && !sessionSeen()) continue;
    if (definition.strCounter == L"*" || definition.strInstance == L"*") {
      extendCounter(definition);
    } else {
      addCounter(definition);
    }
  }
}

void CounterQuery::rebuildCounters(const std::vector<MetricDefinition>& table) {
  for (auto& [key, entry] : counterSet_) removeFromQuery(entry);
  counterSet_.clear();
  failureSet_.clear();
  updateCounters(table);
}

bool CounterQuery::collectStep() {
  if (!query_.isOpen()) return true;
  const PDH_STATUS status = pdh_->collectQueryData(query_.get());
  if (status != 0) {
    LogMessage(CORE::Error, L"Failed to collect data from counter, error: 0x%x", hex(status));
    return false;
  }
  return true;
}

bool CounterQuery::collectValues(std::vector<MetricValue>& values) {
  if (!collectStep()) return false;
  for (auto& [key, entry] : counterSet_) {
    const PDH_STATUS status = readCounterValue(entry);
    if (status != 0) {
      LogMessage(CORE::Error, L"Failed to get data from counter, error: 0x%x, perf counter path %s", hex(status),
                 entry.path);
      continue;
    }
    values.push_back(valueOf(entry));
  }
  return true;
}

bool CounterQuery::collectValuesTracked(std::vector<MetricValue>& values) {
  if (!collectStep()) return false;
  for (auto it = counterSet_.begin(); it != counterSet_.end();) {
    CounterEntry& entry = it->second;
    const PDH_STATUS status = readCounterValue(entry);
    if (status == 0) {
      failureSet_.erase(it->first);
      values.push_back(valueOf(entry));
      ++it;
      continue;
    }
    LogMessage(CORE::Debug, L"Failed to get data from counter, error: 0x%x, perf counter path %s", hex(status),
               entry.path);
    if (failureSet_.erase(it->first) == 0) {
      failureSet_.insert(it->first);
      ++it;
      continue;
    }
    // Second failed read in a row: the counter goes; the table still holds its definition, so
    // the next update adds it again.
    if (!removeFromQuery(entry)) LogMessage(CORE::Error, L"Failed to remove perf counter %s", entry.path);
    LogMessage(CORE::Debug, L"Erase the failure counter, metrics count: %d", counterSet_.size() - 1);
    it = counterSet_.erase(it);
  }
  return true;
}
