// Summing per-processor times: failed and untrustworthy answers, and counters capped at their maximum.
#include <gtest/gtest.h>

#include <cstring>

#include "cpumem/processor_times.h"
#include "nt/nt_layout.h"
#include "process/counter_growth.h"

namespace {

TEST(ProcessorTimesTest, FailedQueriesReportFailure) {
  ProcessorTimes sums;
  EXPECT_FALSE(addProcessorTimes([](PVOID, ULONG, PULONG) { return static_cast<LONG>(0xC0000001u); }, sums));
  // Still too small after growing: the second answer is not trusted either.
  int calls = 0;
  EXPECT_FALSE(addProcessorTimes(
      [&](PVOID, ULONG, PULONG returned) {
        ++calls;
        *returned = 100000;
        return nt::kStatusInfoLengthMismatch;
      },
      sums));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(sums.total, 0);
  EXPECT_EQ(sums.idle, 0);
}

TEST(ProcessorTimesTest, CountersCappedAtTheirMaximumStillGiveTheGrowthOfTheOthers) {
  // Processor 0's counters are stuck at the largest value the system reports; processor 1's
  // grow by 300 (100 of it idle) between the two readings. The sums wrap rather than overflow.
  constexpr int64_t kMax = INT64_MAX;
  auto query = [](int64_t grown) {
    return [grown](PVOID buffer, ULONG length, PULONG returned) -> LONG {
      const nt::ProcessorTimesLayout entries[2] = {{kMax, kMax, kMax, {}, 0, 0},
                                                   {1000 + grown / 3, 5000 + grown / 3 * 2, 2000 + grown / 3, {}, 0, 0}};
      *returned = sizeof entries;
      if (length < sizeof entries) return nt::kStatusInfoLengthMismatch;
      std::memcpy(buffer, entries, sizeof entries);
      return nt::kStatusSuccess;
    };
  };
  ProcessorTimes before, after;
  ASSERT_TRUE(addProcessorTimes(query(0), before));
  ASSERT_TRUE(addProcessorTimes(query(300), after));
  EXPECT_EQ(counterGrowth(after.total, before.total), 300);
  EXPECT_EQ(counterGrowth(after.idle, before.idle), 100);
  EXPECT_EQ(counterGrowth(before.total, after.total), 0);  // a sum that went down
}

}  // namespace
