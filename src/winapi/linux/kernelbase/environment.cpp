// GetEnvironmentVariableW and SetEnvironmentVariableW over the process environment.
#include <cstdlib>
#include <cstring>

#include "common/wide_text.h"
#include "winapi.h"

using namespace winapi_linux;

namespace {

bool validName(std::wstring_view name) { return !name.empty() && name.find(L'=') == std::wstring_view::npos; }

}  // namespace

WINAPI_LAYER DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
  auto utf8Name = wide_text::toUtf8(wide_text::view(name));
  const char* raw = utf8Name && validName(wide_text::view(name)) ? std::getenv(utf8Name->c_str()) : nullptr;
  if (!raw) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  // Bytes that are not UTF-8 still yield a value (with U+FFFD) rather than a missing variable.
  std::wstring value = wide_text::fromUtf8Lossy(raw);
  if (!buffer || size <= value.size()) return static_cast<DWORD>(value.size() + 1);
  std::wmemcpy(buffer, value.data(), value.size());
  buffer[value.size()] = L'\0';
  if (value.empty()) SetLastError(ERROR_SUCCESS);  // tells an empty value from a failure
  return static_cast<DWORD>(value.size());
}

WINAPI_LAYER BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value) {
  auto utf8Name = wide_text::toUtf8(wide_text::view(name));
  if (!utf8Name || !validName(wide_text::view(name))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!value) {
    unsetenv(utf8Name->c_str());
    return TRUE;
  }
  auto utf8Value = wide_text::toUtf8(value);
  if (!utf8Value) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (setenv(utf8Name->c_str(), utf8Value->c_str(), 1) != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return TRUE;
}
