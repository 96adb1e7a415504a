// Fuzz harness: the counter-path parser on arbitrary wide text (each 4 bytes one character).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "pdh/counter_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring path(size / sizeof(wchar_t), L'\0');
  if (!path.empty()) std::memcpy(path.data(), data, path.size() * sizeof(wchar_t));
  auto parsed = winapi_linux::perf::parseCounterPath(path);
  if (parsed && (parsed->object.empty() || parsed->counter.empty())) __builtin_trap();
  if (parsed && parsed->hasInstance && parsed->instance.empty()) __builtin_trap();
  return 0;
}
