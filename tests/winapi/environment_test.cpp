// Environment variables through GetEnvironmentVariableW/SetEnvironmentVariableW.
#include <gtest/gtest.h>

#include <cstdlib>

#include "winapi.h"

namespace {

TEST(Environment, RoundTripSizeProtocolEmptyAndRemovedValues) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"WINAPI_TEST_VAR", L"Größe €"));
  EXPECT_STREQ(std::getenv("WINAPI_TEST_VAR"), "Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC");
  wchar_t small[4], exact[8];
  EXPECT_EQ(GetEnvironmentVariableW(L"WINAPI_TEST_VAR", small, 4), 8u) << "size with the terminator";
  EXPECT_EQ(GetEnvironmentVariableW(L"WINAPI_TEST_VAR", exact, 8), 7u);
  EXPECT_STREQ(exact, L"Größe €");

  ASSERT_TRUE(SetEnvironmentVariableW(L"WINAPI_TEST_VAR", L""));
  SetLastError(99);
  EXPECT_EQ(GetEnvironmentVariableW(L"WINAPI_TEST_VAR", exact, 8), 0u);
  EXPECT_EQ(GetLastError(), 0u) << "an empty value is no failure";
  ASSERT_TRUE(SetEnvironmentVariableW(L"WINAPI_TEST_VAR", nullptr));
  EXPECT_EQ(GetEnvironmentVariableW(L"WINAPI_TEST_VAR", exact, 8), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
  EXPECT_FALSE(SetEnvironmentVariableW(L"A=B", L"x"));
}

}  // namespace
