// The whole-number form of percentages: from .35 upward a figure rounds up.
#include <gtest/gtest.h>

#include "cpumem/round_percent.h"

namespace {

TEST(RoundPercentTest, RoundsUpFromPointThirtyFive) {
  EXPECT_EQ(roundPercent(0.0f), 0u);
  EXPECT_EQ(roundPercent(0.25f), 0u);
  EXPECT_EQ(roundPercent(0.34f), 0u);
  EXPECT_EQ(roundPercent(0.375f), 1u);
  EXPECT_EQ(roundPercent(1.34f), 1u);
  EXPECT_EQ(roundPercent(89.25f), 89u);
  EXPECT_EQ(roundPercent(89.375f), 90u);
  EXPECT_EQ(roundPercent(90.25f), 90u);
  EXPECT_EQ(roundPercent(90.375f), 91u);
  EXPECT_EQ(roundPercent(99.5f), 100u);
  EXPECT_EQ(roundPercent(100.0f), 100u);
}

}  // namespace
