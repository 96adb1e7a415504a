// Fuzzes the parser of the system-wide `stat`: any text gives figures or nothing, never a crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "procfs/procfs_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto stat = winapi_linux::procfs::parseSystemStat(text);
  // A result always stands for at least one processor line, readable or garbled.
  if (stat && stat->cpus.empty() && stat->garbledProcessors == 0) __builtin_trap();
  if (stat && stat->cpus.size() + stat->garbledProcessors > size) __builtin_trap();
  return 0;
}
