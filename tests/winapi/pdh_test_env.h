// Test fixture for the PDH functions: a procfs fixture tree, an empty registry root and a
// collection clock the test advances, so rates are exact.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "pdh_query.h"
#include "support/linux/fixture_tree.h"
#include "temp_registry.h"
#include "winapi.h"

namespace pdh_test {

inline uint64_t& fakeNow() {
  static uint64_t now = 0;
  return now;
}
inline uint64_t readFakeNow() { return fakeNow(); }

class PdhTest : public TempRegistry {
 protected:
  PdhTest() {
    tree.activate();
    fakeNow() = 1'000'000'000'000;
    winapi_linux::pdh::setCollectionClock(readFakeNow);
  }
  ~PdhTest() override {
    if (query) PdhCloseQuery(query);
    winapi_linux::pdh::setCollectionClock(nullptr);
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

  statrix_test::FixtureTree tree;
  HQUERY query = nullptr;
};

}  // namespace pdh_test
