// Fuzzes the parser of `<pid>/stat`: the command name is always a view inside the text,
// between its first "(" and its last ")".
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "procfs/pid_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto stat = winapi_linux::procfs::parsePidStat(text);
  if (!stat) return 0;
  const char* begin = text.data();
  if (stat->comm.data() < begin || stat->comm.data() + stat->comm.size() > begin + size) __builtin_trap();
  if (stat->comm.data() != begin + text.find('(') + 1) __builtin_trap();
  if (stat->comm.data() + stat->comm.size() != begin + text.rfind(')')) __builtin_trap();
  return 0;
}
