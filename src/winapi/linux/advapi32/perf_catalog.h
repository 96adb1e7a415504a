// The PDH counter catalog: performance objects and counters with their English names and
// index numbers, and how each counter's value is formed from the procfs sources.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/layer_visible.h"

namespace winapi_linux::perf {

// The procfs files a counter reads; one collection reads each needed file once.
enum Source : uint32_t {
  kStat = 1u << 0,       // stat
  kMeminfo = 1u << 1,    // meminfo
  kVmstat = 1u << 2,     // vmstat
  kLoadavg = 1u << 3,    // loadavg
  kUptime = 1u << 4,     // uptime
  kProcesses = 1u << 5,  // the numeric directories of the root
  kDiskstats = 1u << 6,  // diskstats
  kNetDev = 1u << 7,     // net/dev
};

// How two raw samples (a, b) become a displayed value.
enum class Formula {
  Instant,        // a × scale of the newer sample; one collection suffices
  Rate,           // Δa × scale / Δseconds
  TickShare,      // 100 × Δa / Δb: a share of the processor's own tick total b
  AveragePerOp,   // Δa × scale / Δb, 0 when Δb is 0 (time per operation)
  BusyPercent,    // 100 × Δa × scale / Δseconds, capped at 100 (a: busy milliseconds)
  IdlePercent,    // 100 − BusyPercent, never below 0
};

enum class ObjectId { System, Memory, Processor, PhysicalDisk, NetworkInterface };

// What a counter reads; the source file follows from it.
enum class Field {
  ProcessorQueueLength, Processes, Threads, ContextSwitches, SystemUpTime,
  AvailableBytes, AvailableKBytes, AvailableMBytes, CommittedBytes, CommitLimit,
  PageFaults, Pages, PagesInput, PagesOutput,
  CpuBusy, CpuUser, CpuPrivileged, CpuIdle,
  DiskReads, DiskWrites, DiskTransfers, DiskReadBytes, DiskWriteBytes, DiskBytes,
  DiskSecPerRead, DiskSecPerWrite, DiskSecPerTransfer, DiskQueueLength,
  DiskTime, DiskReadTime, DiskWriteTime, DiskIdleTime,
  NetBytesReceived, NetBytesSent, NetBytesTotal, NetPackets, NetPacketsReceived, NetPacketsSent,
};

struct CounterDef {
  uint32_t index;
  const wchar_t* name;
  Field field;
  Formula formula;
  double scale;
  bool percent;  // capped at 100 unless PDH_FMT_NOCAP100
};

struct ObjectDef {
  ObjectId id;
  uint32_t index;
  const wchar_t* name;
  bool hasInstances;
  uint32_t sources;  // every source one of its counters reads
  std::span<const CounterDef> counters;
};

LAYER_VISIBLE std::span<const ObjectDef> objects();
LAYER_VISIBLE const ObjectDef* objectById(ObjectId id);
LAYER_VISIBLE uint32_t sourceOf(Field field);

// The English index list: index text and name alternately, ascending by index, each index once
// (a counter name shared by two objects, such as "% Idle Time", has one index).
LAYER_VISIBLE const std::vector<std::wstring>& englishIndexList();
// The English name of an index, or null.
LAYER_VISIBLE const wchar_t* englishName(uint32_t index);

}  // namespace winapi_linux::perf
