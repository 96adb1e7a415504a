// Summing per-processor times: stack buffer up to 128 processors, one heap buffer beyond.
#include <gtest/gtest.h>

#include <cstring>

#include "nt/nt_layout.h"
#include "cpumem/processor_times.h"

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

}  // namespace
