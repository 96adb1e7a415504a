// Test fixture for the PDH functions: a procfs fixture tree, an empty registry root and a
// collection clock the test advances, so rates are exact.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "pdh_query.h"
#include "support/linux/fixture_tree.h"
#include "winapi.h"

namespace pdh_test {

inline uint64_t& fakeNow() {
  static uint64_t now = 0;
  return now;
}
inline uint64_t readFakeNow() { return fakeNow(); }

class PdhTest : public ::testing::Test {
 protected:
  PdhTest() {
    char pattern[] = "/tmp/pdh-registry-XXXXXX";
    registry_ = mkdtemp(pattern);
    setenv("VARNEL_REGISTRY", registry_.c_str(), 1);
    tree.activate();
    fakeNow() = 1'000'000'000'000;
    winapi_linux::pdh::setCollectionClock(readFakeNow);
  }
  ~PdhTest() override {
    if (query) PdhCloseQuery(query);
    winapi_linux::pdh::setCollectionClock(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(registry_, ignored);
  }

  void open() { ASSERT_EQ(PdhOpenQueryW(nullptr, 0, &query), ERROR_SUCCESS); }

  HCOUNTER add(const std::wstring& path) {
    HCOUNTER counter = nullptr;
    EXPECT_EQ(PdhAddCounterW(query, path.c_str(), 0, &counter), ERROR_SUCCESS) << std::string(path.begin(), path.end());
    return counter;
  }

  // Moves the clock on, then collects.
  void collectAfter(double seconds) {
    fakeNow() += static_cast<uint64_t>(seconds * 1e9);
    ASSERT_EQ(PdhCollectQueryData(query), ERROR_SUCCESS);
  }

  // The formatted double; the status goes to `status`, the counter status to `cstatus`.
  double read(HCOUNTER counter, PDH_STATUS* status = nullptr, DWORD* cstatus = nullptr, DWORD format = PDH_FMT_DOUBLE) {
    PDH_FMT_COUNTERVALUE value{};
    PDH_STATUS s = PdhGetFormattedCounterValue(counter, format, nullptr, &value);
    if (status) *status = s;
    else EXPECT_EQ(s, ERROR_SUCCESS);
    if (cstatus) *cstatus = value.CStatus;
    return value.doubleValue;
  }

  // The read fails with PDH_INVALID_DATA and this counter status.
  void expectInvalid(HCOUNTER counter, DWORD cstatus = PDH_CSTATUS_INVALID_DATA) {
    PDH_STATUS status = 0;
    DWORD seen = 0;
    read(counter, &status, &seen);
    EXPECT_EQ(status, PDH_INVALID_DATA);
    EXPECT_EQ(seen, cstatus);
  }

  // Writes a value file of the registry root ("HKLM/Software/..." relative to it).
  void writeRegistryFile(const std::string& relative, const std::string& content) {
    std::filesystem::path path = std::filesystem::path(registry_) / relative;
    std::filesystem::create_directories(path.parent_path());
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
  }

  statrix_test::FixtureTree tree;
  HQUERY query = nullptr;
  std::string registry_;
};

}  // namespace pdh_test
