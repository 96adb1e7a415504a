// Summing per-processor times: stack buffer up to 128 processors, one heap buffer beyond.
#include <gtest/gtest.h>

#include <cstring>

#include "cpumem/processor_times.h"
#include "nt/nt_layout.h"
#include "process/counter_growth.h"

namespace {

// A query answering `count` processors, processor i with idle i, kernel idle + 10, user 5.
struct FakeProcessors {
  size_t count;
  int calls = 0;

  LONG operator()(PVOID buffer, ULONG length, PULONG returned) {
    ++calls;
    const ULONG needed = static_cast<ULONG>(count * sizeof(nt::ProcessorTimesLayout));
    *returned = needed;
    if (length < needed) return nt::kStatusInfoLengthMismatch;
    for (size_t i = 0; i < count; ++i) {
      const nt::ProcessorTimesLayout entry{static_cast<int64_t>(i), static_cast<int64_t>(i) + 10, 5, {}, 0, 0};
      std::memcpy(static_cast<std::byte*>(buffer) + i * sizeof(entry), &entry, sizeof(entry));
    }
    return nt::kStatusSuccess;
  }
  int64_t idleSum() const { return static_cast<int64_t>(count * (count - 1) / 2); }
  int64_t totalSum() const { return idleSum() + static_cast<int64_t>(count) * 15; }
};

TEST(ProcessorTimesTest, UpTo128ProcessorsFitTheStackBufferAndMoreGetOneHeapBuffer) {
  for (size_t count : {1u, 64u, 128u, 129u, 200u, 640u}) {
    FakeProcessors fake{count};
    ProcessorTimes sums;
    ASSERT_TRUE(addProcessorTimes(std::ref(fake), sums)) << count;
    EXPECT_EQ(sums.idle, fake.idleSum()) << count;
    EXPECT_EQ(sums.total, fake.totalSum()) << count;
    EXPECT_EQ(fake.calls, count <= 128 ? 1 : 2) << count;
  }
}

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
