// Reading the procfs sources of one PDH collection.
#include "pdh/perf_sources.h"

#include <dirent.h>

#include <string>

#include "advapi32/perf_catalog.h"
#include "common/config.h"
#include "common/scoped_dir.h"
#include "pdh/disk_instances.h"
#include "pdh/perf_values.h"
#include "procfs/bounded_read.h"
#include "procfs/procfs_text.h"
#include "procfs/system_files.h"

namespace winapi_linux::perf {

namespace {

// Far above any real file (`stat` of a machine with thousands of processors is a few 100 kB).
constexpr size_t kMaxSourceFile = 8u << 20;

template <class Parse>
auto readSource(const std::string& root, const char* name, std::string& text, Parse parse)
    -> decltype(parse(std::string_view())) {
  const SystemFile file(root + "/" + name);
  if (file.fd() < 0 || readRegularOpenFile(file.fd(), kMaxSourceFile, text) != 0) return std::nullopt;
  return parse(text);
}

std::optional<uint64_t> countProcesses(const std::string& root) {
  ScopedDir dir(::opendir(root.c_str()));
  if (!dir) return std::nullopt;
  uint64_t count = 0;
  while (dirent* entry = ::readdir(dir.get())) {
    if (procfs::parseNumber<uint32_t>(entry->d_name)) ++count;
  }
  return count;
}

template <class Device>
std::vector<std::wstring> instanceNamesOf(const std::optional<std::vector<Device>>& devices) {
  if (!devices) return {};
  std::vector<std::string_view> names;
  names.reserve(devices->size());
  for (const Device& d : *devices) names.emplace_back(d.name);
  return deviceInstanceNames(names);
}

}  // namespace

Snapshot readSnapshot(uint32_t sources) {
  Snapshot s;
  s.sources = sources;
  const std::string root = procfsRoot();
  std::string text;
  if (sources & kStat) {
    s.stat = readSource(root, "stat", text, procfs::parseSystemStat);
    // A garbled cpuN line would shift every later processor onto the wrong instance name:
    // this collection has no processor data rather than misattributed figures.
    if (s.stat && s.stat->garbledProcessors != 0) s.stat.reset();
  }
  if (sources & kMeminfo) s.meminfo = readSource(root, "meminfo", text, procfs::parseMeminfo);
  if (sources & kVmstat) s.vmstat = readSource(root, "vmstat", text, procfs::parseVmstat);
  if (sources & kLoadavg) s.loadavg = readSource(root, "loadavg", text, procfs::parseLoadavg);
  if (sources & kUptime) s.uptime = readSource(root, "uptime", text, procfs::parseUptime);
  if (sources & kProcesses) s.processes = countProcesses(root);
  if (sources & kDiskstats) {
    s.disks = readSource(root, "diskstats", text, [](std::string_view t) {
      return std::optional(wholeDisks(procfs::parseDiskstats(t)));
    });
  }
  if (sources & kNetDev) {
    s.interfaces = readSource(root, "net/dev", text, [](std::string_view t) {
      return std::optional(procfs::parseNetDev(t));
    });
  }
  s.diskInstances = instanceNamesOf(s.disks);
  s.interfaceInstances = instanceNamesOf(s.interfaces);
  return s;
}

}  // namespace winapi_linux::perf
