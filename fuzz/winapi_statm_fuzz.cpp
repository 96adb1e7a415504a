// Fuzzes the parser of `<pid>/statm`: the anonymous share is never more than what is resident.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "procfs/pid_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto statm = winapi_linux::procfs::parsePidStatm(text);
  if (statm && statm->anonymous() > statm->resident) __builtin_trap();
  return 0;
}
