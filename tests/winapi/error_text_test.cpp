// System error texts from FormatMessageW.
#include <gtest/gtest.h>

#include <string>

#include "winapi.h"

namespace {

constexpr DWORD kSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

std::wstring text(DWORD code, DWORD flags = kSystem, DWORD size = 256) {
  wchar_t buffer[256];
  DWORD n = FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, size, nullptr);
  return n ? std::wstring(buffer, n) : std::wstring();
}

TEST(ErrorText, KnownCodesHaveTheWindowsTexts) {
  EXPECT_EQ(text(0), L"The operation completed successfully.\r\n");
  EXPECT_EQ(text(6), L"The handle is invalid.\r\n");
  EXPECT_EQ(text(87), L"The parameter is incorrect.\r\n");
  EXPECT_EQ(text(0x80070005u), L"Access is denied.\r\n") << "an HRESULT of a Win32 code";
}

TEST(ErrorText, FailuresSetTheirOwnCodes) {
  SetLastError(0);
  EXPECT_EQ(text(0x12345), L"");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
  EXPECT_EQ(text(6, kSystem, 8), L"");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  // A text with inserts is only available unexpanded.
  EXPECT_EQ(text(317, FORMAT_MESSAGE_FROM_SYSTEM), L"");
  EXPECT_NE(text(317).find(L"0x%1 in the message file for %2."), std::wstring::npos);
}

TEST(ErrorText, AllocatedBufferIsReleasedWithLocalFree) {
  wchar_t* allocated = nullptr;
  DWORD n = FormatMessageW(kSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 5, 0,
                           reinterpret_cast<LPWSTR>(&allocated), 0, nullptr);
  ASSERT_EQ(n, 19u);
  EXPECT_STREQ(allocated, L"Access is denied.\r\n");
  EXPECT_EQ(LocalFree(allocated), nullptr);
}

}  // namespace
