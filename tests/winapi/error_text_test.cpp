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

TEST(ErrorText, KnownCodesHaveTheirTextsAndFailuresSetTheirOwnCodes) {
  EXPECT_EQ(text(87), L"The parameter is incorrect.\r\n");
  EXPECT_EQ(text(0x80070005u), L"Access is denied.\r\n") << "an HRESULT of a Win32 code";
  SetLastError(0);
  EXPECT_EQ(text(0x12345), L"");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
  EXPECT_EQ(text(6, kSystem, 8), L"");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  // A text with inserts is only available unexpanded.
  EXPECT_EQ(text(317, FORMAT_MESSAGE_FROM_SYSTEM), L"");
  EXPECT_NE(text(317).find(L"0x%1 in the message file for %2."), std::wstring::npos);
}

}  // namespace
