// Environment variables set through SetEnvironmentVariableW, as the runner passes its options.
#include <gtest/gtest.h>

#include <cstdlib>

#include "winapi.h"

namespace {

TEST(Environment, ValuesAreSetAsUtf8AndRemovedByNull) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"WINAPI_TEST_VAR", L"Größe €"));
  EXPECT_STREQ(std::getenv("WINAPI_TEST_VAR"), "Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC");
  ASSERT_TRUE(SetEnvironmentVariableW(L"WINAPI_TEST_VAR", nullptr));
  EXPECT_EQ(std::getenv("WINAPI_TEST_VAR"), nullptr);
  EXPECT_FALSE(SetEnvironmentVariableW(L"A=B", L"x"));
}

}  // namespace
