// Fuzzes the parser of `<pid>/status`: any text gives figures or nothing, never a crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "procfs/pid_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto status = winapi_linux::procfs::parsePidStatus(text);
  // Every result has seen a complete "Uid:" line.
  if (status && text.find("Uid:") == std::string_view::npos) __builtin_trap();
  auto session = winapi_linux::procfs::parseSessionId(text);
  if (session && size == 0) __builtin_trap();
  return 0;
}
