// FormatMessageW for system error codes: the English Windows texts of the codes this project
// meets, each ending in "\r\n" as the system's message table does.
#include <cstdlib>
#include <cwchar>
#include <string_view>

#include "winapi.h"

namespace {

struct SystemMessage {
  DWORD code;
  const wchar_t* text;
};

constexpr SystemMessage kMessages[] = {
    {0, L"The operation completed successfully.\r\n"},
    {1, L"Incorrect function.\r\n"},
    {2, L"The system cannot find the file specified.\r\n"},
    {3, L"The system cannot find the path specified.\r\n"},
    {4, L"The system cannot open the file.\r\n"},
    {5, L"Access is denied.\r\n"},
    {6, L"The handle is invalid.\r\n"},
    {8, L"Not enough memory resources are available to process this command.\r\n"},
    {13, L"The data is invalid.\r\n"},
    {14, L"Not enough memory resources are available to complete this operation.\r\n"},
    {50, L"The request is not supported.\r\n"},
    {87, L"The parameter is incorrect.\r\n"},
    {120, L"This function is not supported on this system.\r\n"},
    {122, L"The data area passed to a system call is too small.\r\n"},
    {126, L"The specified module could not be found.\r\n"},
    {127, L"The specified procedure could not be found.\r\n"},
    {161, L"The specified path is invalid.\r\n"},
    {183, L"Cannot create a file when that file already exists.\r\n"},
    {193, L"%1 is not a valid Win32 application.\r\n"},
    {203, L"The system could not find the environment option that was entered.\r\n"},
    {206, L"The filename or extension is too long.\r\n"},
    {223, L"The file size exceeds the limit allowed and cannot be saved.\r\n"},
    {234, L"More data is available.\r\n"},
    {258, L"The wait operation timed out.\r\n"},
    {259, L"No more data is available.\r\n"},
    {317, L"The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    {998, L"Invalid access to memory location.\r\n"},
    {1018, L"Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {1114, L"A dynamic link library (DLL) initialization routine failed.\r\n"},
    {1332, L"No mapping between account names and security IDs was done.\r\n"},
    {1460, L"This operation returned because the timeout period expired.\r\n"},
};

const wchar_t* findMessage(DWORD code) {
  // An HRESULT wrapping a Win32 code (FACILITY_WIN32) has the same text.
  if ((code & 0xFFFF0000u) == 0x80070000u) code &= 0xFFFFu;
  for (const SystemMessage& m : kMessages)
    if (m.code == code) return m.text;
  return nullptr;
}

}  // namespace

WINAPI_LAYER DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                                  DWORD size, void* args) {
  (void)source;
  (void)languageId;  // English only
  (void)args;
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const wchar_t* text = findMessage(messageId);
  if (!text) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  std::wstring_view message(text);
  // Argument inserts are not supported: a text with "%1" can only be had unexpanded.
  if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && message.find(L'%') != std::wstring_view::npos) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const auto length = static_cast<DWORD>(message.size());
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    // `size` is then the least number of characters to allocate.
    size_t count = (length + 1 > size ? length + 1 : size);
    auto* block = static_cast<wchar_t*>(std::malloc(count * sizeof(wchar_t)));
    if (!block) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    std::wmemcpy(block, message.data(), length + 1);
    *reinterpret_cast<LPWSTR*>(buffer) = block;
    return length;
  }
  if (size < length + 1) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::wmemcpy(buffer, message.data(), length + 1);
  return length;
}

WINAPI_LAYER HLOCAL LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}
