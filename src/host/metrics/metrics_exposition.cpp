// Writes the figures of a scrape as Prometheus metric families.
#include "metrics/metrics_exposition.h"

#include "metrics/prometheus_text.h"

namespace vhost {

namespace {

using prom::Type;

void sessions(prom::TextWriter& w, const char* name, const char* help, const std::map<uint32_t, int64_t>& figures) {
  w.family(name, help, Type::Gauge);
  for (const auto& [session, value] : figures) {
    std::string id = std::to_string(session);
    w.sample(name, {{"session", id}}, static_cast<double>(value));
  }
}

void passHistogram(prom::TextWriter& w, const ObservedFigures& o) {
  const char* name = "statrix_pass_duration_seconds";
  w.family(name, "Duration of the runs of the watch timer's callback (one sampling pass each).", Type::Histogram);
  uint64_t cumulative = 0;
  for (size_t i = 0; i < kPassBuckets.size(); ++i) {
    cumulative += o.passBuckets[i];
    std::string le = prom::formatValue(kPassBuckets[i]);
    w.sample("statrix_pass_duration_seconds_bucket", {{"le", le}}, static_cast<double>(cumulative));
  }
  w.sample("statrix_pass_duration_seconds_bucket", {{"le", "+Inf"}}, static_cast<double>(o.passCount));
  w.sample("statrix_pass_duration_seconds_sum", o.passSeconds);
  w.sample("statrix_pass_duration_seconds_count", static_cast<double>(o.passCount));
}

}  // namespace

std::string renderMetrics(const RoundFigures& r, const ObservedFigures& o) {
  prom::TextWriter w;
  auto gauge = [&](const char* name, const char* help, bool present, double value) {
    w.family(name, help, Type::Gauge);
    if (present) w.sample(name, value);
  };
  gauge("statrix_system_cpu_percent", "System processor use of the last sampling pass, percent.",
        r.cpuPercent.has_value(), static_cast<double>(r.cpuPercent.value_or(0)));
  gauge("statrix_memory_load_percent", "Physical memory load of the last sampling pass, percent.",
        r.memoryLoadPercent.has_value(), static_cast<double>(r.memoryLoadPercent.value_or(0)));
  gauge("statrix_memory_total_bytes", "Total physical memory, bytes.", r.totalBytes.has_value(),
        static_cast<double>(r.totalBytes.value_or(0)));
  gauge("statrix_memory_available_bytes", "Available physical memory, bytes.", r.availableBytes.has_value(),
        static_cast<double>(r.availableBytes.value_or(0)));

  gauge("statrix_last_pass_timestamp_seconds", "When the latest sampling pass ended, seconds since 1970.",
        o.lastPassEnd.has_value(), o.lastPassEnd.value_or(0));

  w.family("statrix_metric_value",
           "Value of a performance-counter metric read in this scrape's collection, by the definition it was read for, "
           "as the plug-in replies it: times the definition's dwScale, truncated toward zero to a whole number "
           "(Avg. Disk sec/Read below 1 s reads 0 at dwScale 1; dwScale 1000000 gives microseconds), "
           "and 0 for an average over no operations.",
           Type::Gauge);
  for (const MetricSample& m : r.metrics)
    w.sample("statrix_metric_value",
             {{"metric", m.metric},
              {"object", m.definition.object},
              {"counter", m.definition.counter},
              {"instance", m.definition.instance}},
             m.value);

  sessions(w, "statrix_session_cpu_percent", "Processor use of a user session's processes, percent (help-desk figures).",
           o.sessionCpu);
  sessions(w, "statrix_session_memory_percent",
           "Private bytes of a user session's processes against physical memory, percent (help-desk figures).",
           o.sessionMemory);

  w.family("statrix_stored_value", "Numeric value of the session counter store (at most 64 names).", Type::Gauge);
  for (const auto& [name, value] : r.storedValues) w.sample("statrix_stored_value", {{"name", name}}, value);

  w.family("statrix_alarms_total", "Alarms broadcast since the runner started, by kind.", Type::Counter);
  for (size_t i = 0; i < kAlarmKindNames.size(); ++i)
    w.sample("statrix_alarms_total", {{"kind", kAlarmKindNames[i]}}, static_cast<double>(o.alarms[i]));

  passHistogram(w, o);

  gauge("statrix_watch_enabled", "1 while the watch timer runs and its latest pass did not fail, else 0.", true,
        o.timerRunning && o.lastPassOk ? 1 : 0);
  return w.text();
}

}  // namespace vhost
