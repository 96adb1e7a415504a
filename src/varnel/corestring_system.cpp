// corestring helpers that ask the system: error texts and module file names.
#include <vector>

#include "last_error_guard.h"
#include "varnel/corestring.h"
#include "winapi.h"

namespace CORE {

// Texts longer than this (the system's own limit for message texts) are not asked for.
static constexpr DWORD kMaxErrorText = 64 * 1024;
// Longest module path the loader reports (extended-length paths).
static constexpr DWORD kMaxModulePath = 32 * 1024;

corestring corestring::formatError(uint32_t code) {
  LastErrorGuard keep;
  std::vector<wchar_t> buffer(512);
  DWORD length = 0;
  for (;;) {
    length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                            buffer.data(), static_cast<DWORD>(buffer.size()), nullptr);
    if (length != 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= kMaxErrorText) break;
    buffer.resize(buffer.size() * 4);
  }
  corestring text = corestring(buffer.data(), length).trim(L" \t\r\n");
  if (text.empty()) return corestring(L"Unknown error ") + corestring(code, 10);
  return text;
}

corestring corestring::getModuleName(void* moduleHandle) {
  LastErrorGuard keep;
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(moduleHandle), buffer.data(), size);
    // A full buffer means the name was cut off: ask again with more room.
    if (length < size || size >= kMaxModulePath) return corestring(buffer.data(), length < size ? length : 0);
    buffer.resize(buffer.size() * 4);
  }
}

}  // namespace CORE
