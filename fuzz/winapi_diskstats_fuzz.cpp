// Fuzz harness: the diskstats parser and the choice of whole disks on arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pdh/disk_instances.h"
#include "procfs/diskstats_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto all = winapi_linux::procfs::parseDiskstats(text);
  auto disks = winapi_linux::perf::wholeDisks(all);
  if (disks.size() > all.size()) __builtin_trap();
  (void)winapi_linux::perf::diskTotal(disks);
  return 0;
}
