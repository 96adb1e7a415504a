// Raw samples and displayed values of the catalog's counters.
#include "pdh/perf_values.h"

#include <algorithm>

#include "advapi32/registry_names.h"
#include "common/wide_text.h"
#include "pdh/disk_instances.h"
#include "procfs/procfs_text.h"

namespace winapi_linux::perf {

namespace {

constexpr wchar_t kTotal[] = L"_Total";

bool isTotal(std::wstring_view instance) { return registry_names::sameName(instance, kTotal); }

// Sum of the cpuN lines for "_Total", else the processor of that number.
std::optional<procfs::CpuTicks> processorTicks(const procfs::SystemStat& stat, std::wstring_view instance) {
  if (isTotal(instance)) {
    procfs::CpuTicks t;
    for (const auto& c : stat.cpus) {
      t.user += c.user, t.nice += c.nice, t.system += c.system, t.idle += c.idle;
      t.iowait += c.iowait, t.irq += c.irq, t.softirq += c.softirq, t.steal += c.steal;
    }
    return t;
  }
  std::string narrow;
  for (wchar_t c : instance) {
    if (c < L'0' || c > L'9') return std::nullopt;
    narrow += static_cast<char>(c);
  }
  auto n = procfs::parseNumber<uint32_t>(narrow);
  if (!n || (narrow.size() > 1 && narrow[0] == '0') || *n >= stat.cpus.size()) return std::nullopt;
  return stat.cpus[*n];
}

std::optional<RawSample> cpuSample(Field field, const procfs::CpuTicks& c) {
  uint64_t idle = c.idle + c.iowait;
  uint64_t user = c.user + c.nice;
  uint64_t privileged = c.system + c.irq + c.softirq + c.steal;
  uint64_t total = idle + user + privileged;
  switch (field) {
    case Field::CpuBusy: return RawSample{user + privileged, total};
    case Field::CpuUser: return RawSample{user, total};
    case Field::CpuPrivileged: return RawSample{privileged, total};
    default: return RawSample{idle, total};
  }
}

template <class T>
const T* findDevice(const std::vector<T>& devices, std::wstring_view instance) {
  for (const T& d : devices)
    if (registry_names::sameName(instanceName(d.name), instance)) return &d;
  return nullptr;
}

std::optional<RawSample> diskSample(Field field, const procfs::DiskStat& d) {
  switch (field) {
    case Field::DiskReads: return RawSample{d.reads};
    case Field::DiskWrites: return RawSample{d.writes};
    case Field::DiskTransfers: return RawSample{d.reads + d.writes};
    case Field::DiskReadBytes: return RawSample{d.sectorsRead};
    case Field::DiskWriteBytes: return RawSample{d.sectorsWritten};
    case Field::DiskBytes: return RawSample{d.sectorsRead + d.sectorsWritten};
    case Field::DiskSecPerRead: return RawSample{d.msReading, d.reads};
    case Field::DiskSecPerWrite: return RawSample{d.msWriting, d.writes};
    case Field::DiskSecPerTransfer: return RawSample{d.msReading + d.msWriting, d.reads + d.writes};
    case Field::DiskQueueLength: return RawSample{d.inProgress};
    case Field::DiskTime: return RawSample{d.msReading + d.msWriting};
    case Field::DiskReadTime: return RawSample{d.msReading};
    case Field::DiskWriteTime: return RawSample{d.msWriting};
    default: return RawSample{d.msDoingIo};  // % Idle Time
  }
}

std::optional<RawSample> netSample(Field field, const procfs::NetDevStat& n) {
  switch (field) {
    case Field::NetBytesReceived: return RawSample{n.rxBytes};
    case Field::NetBytesSent: return RawSample{n.txBytes};
    case Field::NetBytesTotal: return RawSample{n.rxBytes + n.txBytes};
    case Field::NetPacketsReceived: return RawSample{n.rxPackets};
    case Field::NetPacketsSent: return RawSample{n.txPackets};
    default: return RawSample{n.rxPackets + n.txPackets};
  }
}

std::optional<RawSample> value(const std::optional<uint64_t>& v) {
  return v ? std::optional(RawSample{*v}) : std::nullopt;
}

// The sample of a counter of an object without instances; nullopt when its source failed.
std::optional<RawSample> singleSample(Field field, const Snapshot& s) {
  const auto& m = s.meminfo;
  const auto& v = s.vmstat;
  switch (field) {
    case Field::ProcessorQueueLength:
      if (!s.stat || !s.stat->procsRunning) return std::nullopt;
      return RawSample{*s.stat->procsRunning - std::min<uint64_t>(*s.stat->procsRunning, s.stat->cpus.size())};
    case Field::ContextSwitches: return s.stat ? value(s.stat->contextSwitches) : std::nullopt;
    case Field::Processes: return value(s.processes);
    case Field::Threads: return s.loadavg ? std::optional(RawSample{s.loadavg->total}) : std::nullopt;
    case Field::SystemUpTime: return value(s.uptime);
    case Field::AvailableBytes:
    case Field::AvailableKBytes:
    case Field::AvailableMBytes: return m ? value(m->memAvailable) : std::nullopt;
    case Field::CommittedBytes: return m ? value(m->committedAs) : std::nullopt;
    case Field::CommitLimit: return m ? value(m->commitLimit) : std::nullopt;
    case Field::PageFaults: return v ? value(v->pgfault) : std::nullopt;
    case Field::PagesInput: return v ? value(v->pswpin) : std::nullopt;
    case Field::PagesOutput: return v ? value(v->pswpout) : std::nullopt;
    case Field::Pages:
      if (!v || !v->pswpin || !v->pswpout) return std::nullopt;
      return RawSample{*v->pswpin + *v->pswpout};
    default: return std::nullopt;
  }
}

}  // namespace

std::wstring instanceName(std::string_view deviceName) {
  std::wstring name = wide_text::fromUtf8Lossy(deviceName);
  for (wchar_t& c : name) {
    if (c == L'(') c = L'[';
    else if (c == L')') c = L']';
    else if (c == L'#' || c == L'/' || c == L'\\') c = L'_';
  }
  return name;
}

std::optional<RawSample> extractSample(Field field, const Snapshot& s, std::wstring_view instance, DWORD& status) {
  status = PDH_CSTATUS_INVALID_DATA;
  std::optional<RawSample> sample;
  switch (sourceOf(field)) {
    case kStat:
      if (!s.stat) return std::nullopt;
      if (field == Field::ProcessorQueueLength || field == Field::ContextSwitches) {
        sample = singleSample(field, s);
        break;
      }
      if (auto ticks = processorTicks(*s.stat, instance)) {
        sample = cpuSample(field, *ticks);
      } else {
        status = PDH_CSTATUS_NO_INSTANCE;
        return std::nullopt;
      }
      break;
    case kDiskstats: {
      if (!s.disks) return std::nullopt;
      if (isTotal(instance)) {
        sample = diskSample(field, diskTotal(*s.disks));
      } else if (const auto* d = findDevice(*s.disks, instance)) {
        sample = diskSample(field, *d);
      } else {
        status = PDH_CSTATUS_NO_INSTANCE;
        return std::nullopt;
      }
      break;
    }
    case kNetDev: {
      if (!s.interfaces) return std::nullopt;
      const auto* n = findDevice(*s.interfaces, instance);
      if (!n) {
        status = PDH_CSTATUS_NO_INSTANCE;
        return std::nullopt;
      }
      sample = netSample(field, *n);
      break;
    }
    default:
      sample = singleSample(field, s);
  }
  if (sample) status = PDH_CSTATUS_VALID_DATA;
  return sample;
}

std::vector<std::wstring> instanceNames(ObjectId object, const Snapshot& s) {
  std::vector<std::wstring> names;
  switch (object) {
    case ObjectId::Processor:
      if (!s.stat) break;
      for (size_t i = 0; i < s.stat->cpus.size(); ++i) names.push_back(std::to_wstring(i));
      names.emplace_back(kTotal);
      break;
    case ObjectId::PhysicalDisk:
      if (!s.disks) break;
      for (const auto& d : *s.disks) names.push_back(instanceName(d.name));
      names.emplace_back(kTotal);
      break;
    case ObjectId::NetworkInterface:
      if (!s.interfaces) break;
      for (const auto& n : *s.interfaces) names.push_back(instanceName(n.name));
      break;
    default:
      break;
  }
  return names;
}

Computed computeValue(const CounterDef& counter, const std::optional<RawSample>& previous, const RawSample& current) {
  Computed r;
  if (counter.formula == Formula::Instant) {
    return {PDH_CSTATUS_VALID_DATA, static_cast<double>(current.a) * counter.scale};
  }
  if (!previous) return r;  // a first sample: rates need two
  const RawSample& p = *previous;
  // Unsigned differences of figures that went backwards would be huge: invalid instead.
  if (current.a < p.a || current.b < p.b || current.timeNs < p.timeNs) return r;
  const double da = static_cast<double>(current.a - p.a);
  const double db = static_cast<double>(current.b - p.b);
  const double seconds = static_cast<double>(current.timeNs - p.timeNs) / 1e9;
  switch (counter.formula) {
    case Formula::TickShare:
      r.value = db == 0 ? 0 : 100.0 * da / db;
      break;
    case Formula::AveragePerOp:
      r.value = db == 0 ? 0 : da * counter.scale / db;
      break;
    case Formula::Rate:
    case Formula::BusyPercent:
    case Formula::IdlePercent: {
      if (seconds <= 0) return r;
      if (counter.formula == Formula::Rate) {
        r.value = da * counter.scale / seconds;
      } else {
        double busy = 100.0 * da * counter.scale / (seconds * 1000.0);  // a counts milliseconds
        r.value = counter.formula == Formula::BusyPercent ? busy : std::max(0.0, 100.0 - busy);
      }
      break;
    }
    default:
      return r;
  }
  r.status = PDH_CSTATUS_VALID_DATA;
  return r;
}

}  // namespace winapi_linux::perf
