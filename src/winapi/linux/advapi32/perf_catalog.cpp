// The counter catalog. Index numbers are those of the English performance-counter index list
// of Windows, so modules that carry index numbers find the same counters here.
//
// Where the Linux figures come from:
//   System      Processor Queue Length = procs_running of `stat` less the processor count
//               (ready tasks beyond those running, never below 0); Processes = numeric
//               directories of the root; Threads = the task total of `loadavg`;
//               Context Switches/sec = ctxt of `stat`; System Up Time = `uptime` (seconds).
//   Memory      Available Bytes = MemAvailable, Committed Bytes = Committed_AS, Commit Limit =
//               CommitLimit (`meminfo`); Page Faults/sec = pgfault, Pages Input/sec = pswpin,
//               Pages Output/sec = pswpout, Pages/sec = their sum (`vmstat`, pages).
//   Processor   shares of each cpuN line's own tick total (all its fields): % User Time =
//               user + nice, % Privileged Time = system + irq + softirq + steal, % Idle Time =
//               idle + iowait, % Processor Time = the rest; they add up to 100.
//   PhysicalDisk `diskstats` of whole disks: completed reads/writes, sectors × 512 bytes, the
//               milliseconds spent reading/writing (averages: time delta / count delta),
//               I/Os in progress (Current Disk Queue Length), milliseconds doing I/O (% Idle Time).
//   Network Interface `net/dev`: bytes and packets received and sent.
#include "advapi32/perf_catalog.h"

#include <map>

#include "common/no_destructor.h"

namespace winapi_linux::perf {

namespace {

constexpr CounterDef kSystem[] = {
    {44, L"Processor Queue Length", Field::ProcessorQueueLength, Formula::Instant, 1, false},
    {248, L"Processes", Field::Processes, Formula::Instant, 1, false},
    {250, L"Threads", Field::Threads, Formula::Instant, 1, false},
    {146, L"Context Switches/sec", Field::ContextSwitches, Formula::Rate, 1, false},
    {674, L"System Up Time", Field::SystemUpTime, Formula::Instant, 0.01, false},  // uptime in 1/100 s
};

constexpr CounterDef kMemory[] = {
    {24, L"Available Bytes", Field::AvailableBytes, Formula::Instant, 1024, false},
    {1380, L"Available KBytes", Field::AvailableKBytes, Formula::Instant, 1, false},
    {1382, L"Available MBytes", Field::AvailableMBytes, Formula::Instant, 1.0 / 1024, false},
    {26, L"Committed Bytes", Field::CommittedBytes, Formula::Instant, 1024, false},
    {30, L"Commit Limit", Field::CommitLimit, Formula::Instant, 1024, false},
    {28, L"Page Faults/sec", Field::PageFaults, Formula::Rate, 1, false},
    {40, L"Pages/sec", Field::Pages, Formula::Rate, 1, false},
    {822, L"Pages Input/sec", Field::PagesInput, Formula::Rate, 1, false},
    {48, L"Pages Output/sec", Field::PagesOutput, Formula::Rate, 1, false},
};

constexpr CounterDef kProcessor[] = {
    {6, L"% Processor Time", Field::CpuBusy, Formula::TickShare, 1, true},
    {142, L"% User Time", Field::CpuUser, Formula::TickShare, 1, true},
    {144, L"% Privileged Time", Field::CpuPrivileged, Formula::TickShare, 1, true},
    {1482, L"% Idle Time", Field::CpuIdle, Formula::TickShare, 1, true},
};

// Times in `diskstats` are milliseconds; averages are shown in seconds.
constexpr CounterDef kPhysicalDisk[] = {
    {200, L"% Disk Time", Field::DiskTime, Formula::BusyPercent, 1, true},
    {202, L"% Disk Read Time", Field::DiskReadTime, Formula::BusyPercent, 1, true},
    {204, L"% Disk Write Time", Field::DiskWriteTime, Formula::BusyPercent, 1, true},
    {1482, L"% Idle Time", Field::DiskIdleTime, Formula::IdlePercent, 1, true},
    {198, L"Current Disk Queue Length", Field::DiskQueueLength, Formula::Instant, 1, false},
    {206, L"Avg. Disk sec/Transfer", Field::DiskSecPerTransfer, Formula::AveragePerOp, 0.001, false},
    {208, L"Avg. Disk sec/Read", Field::DiskSecPerRead, Formula::AveragePerOp, 0.001, false},
    {210, L"Avg. Disk sec/Write", Field::DiskSecPerWrite, Formula::AveragePerOp, 0.001, false},
    {212, L"Disk Transfers/sec", Field::DiskTransfers, Formula::Rate, 1, false},
    {214, L"Disk Reads/sec", Field::DiskReads, Formula::Rate, 1, false},
    {216, L"Disk Writes/sec", Field::DiskWrites, Formula::Rate, 1, false},
    {218, L"Disk Bytes/sec", Field::DiskBytes, Formula::Rate, 512, false},
    {220, L"Disk Read Bytes/sec", Field::DiskReadBytes, Formula::Rate, 512, false},
    {222, L"Disk Write Bytes/sec", Field::DiskWriteBytes, Formula::Rate, 512, false},
};

constexpr CounterDef kNetworkInterface[] = {
    {388, L"Bytes Total/sec", Field::NetBytesTotal, Formula::Rate, 1, false},
    {400, L"Packets/sec", Field::NetPackets, Formula::Rate, 1, false},
    {266, L"Packets Received/sec", Field::NetPacketsReceived, Formula::Rate, 1, false},
    {452, L"Packets Sent/sec", Field::NetPacketsSent, Formula::Rate, 1, false},
    {264, L"Bytes Received/sec", Field::NetBytesReceived, Formula::Rate, 1, false},
    {506, L"Bytes Sent/sec", Field::NetBytesSent, Formula::Rate, 1, false},
};

constexpr ObjectDef kObjects[] = {
    {ObjectId::System, 2, L"System", false, kStat | kLoadavg | kUptime | kProcesses, kSystem},
    {ObjectId::Memory, 4, L"Memory", false, kMeminfo | kVmstat, kMemory},
    {ObjectId::Processor, 238, L"Processor", true, kStat, kProcessor},
    {ObjectId::PhysicalDisk, 234, L"PhysicalDisk", true, kDiskstats, kPhysicalDisk},
    {ObjectId::NetworkInterface, 510, L"Network Interface", true, kNetDev, kNetworkInterface},
};

std::map<uint32_t, const wchar_t*> buildNames() {
  std::map<uint32_t, const wchar_t*> names;
  for (const ObjectDef& o : kObjects) {
    names.emplace(o.index, o.name);
    for (const CounterDef& c : o.counters) names.emplace(c.index, c.name);
  }
  return names;
}

const std::map<uint32_t, const wchar_t*>& namesByIndex() {
  static NoDestructor<std::map<uint32_t, const wchar_t*>> names(buildNames());
  return names.get();
}

}  // namespace

std::span<const ObjectDef> objects() { return kObjects; }

const ObjectDef* objectById(ObjectId id) {
  for (const ObjectDef& o : kObjects)
    if (o.id == id) return &o;
  return nullptr;
}

uint32_t sourceOf(Field field) {
  switch (field) {
    case Field::ProcessorQueueLength:
    case Field::ContextSwitches:
    case Field::CpuBusy:
    case Field::CpuUser:
    case Field::CpuPrivileged:
    case Field::CpuIdle:
      return kStat;
    case Field::Processes:
      return kProcesses;
    case Field::Threads:
      return kLoadavg;
    case Field::SystemUpTime:
      return kUptime;
    case Field::AvailableBytes:
    case Field::AvailableKBytes:
    case Field::AvailableMBytes:
    case Field::CommittedBytes:
    case Field::CommitLimit:
      return kMeminfo;
    case Field::PageFaults:
    case Field::Pages:
    case Field::PagesInput:
    case Field::PagesOutput:
      return kVmstat;
    case Field::NetBytesReceived:
    case Field::NetBytesSent:
    case Field::NetBytesTotal:
    case Field::NetPackets:
    case Field::NetPacketsReceived:
    case Field::NetPacketsSent:
      return kNetDev;
    default:
      return kDiskstats;
  }
}

const std::vector<std::wstring>& englishIndexList() {
  static NoDestructor<std::vector<std::wstring>> list([] {
    std::vector<std::wstring> items;
    for (const auto& [index, name] : namesByIndex()) {
      items.push_back(std::to_wstring(index));
      items.emplace_back(name);
    }
    return items;
  }());
  return list.get();
}

const wchar_t* englishName(uint32_t index) {
  const auto& names = namesByIndex();
  auto it = names.find(index);
  return it == names.end() ? nullptr : it->second;
}

}  // namespace winapi_linux::perf
