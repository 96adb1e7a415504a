// The Prometheus text writer: escaping and number forms.
#include "prometheus_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vhost::prom {
namespace {

TEST(PrometheusText, LabelValuesEscapeBackslashQuoteAndNewlineOnly) {
  EXPECT_EQ(escapeLabelValue(R"(C:\Temp "x")" "\n" "y"), R"(C:\\Temp \"x\"\ny)");
  EXPECT_EQ(escapeLabelValue("Pages Input/sec {a=b}"), "Pages Input/sec {a=b}");
  EXPECT_EQ(escapeLabelValue("\xc3\xa9t\xc3\xa9"), "\xc3\xa9t\xc3\xa9");  // UTF-8 passes unchanged
  EXPECT_EQ(escapeHelp("a \"b\" \\ c\nd"), "a \"b\" \\\\ c\\nd");
}

TEST(PrometheusText, NumbersReadBackExactly) {
  EXPECT_EQ(formatValue(0), "0");
  EXPECT_EQ(formatValue(-1), "-1");
  EXPECT_EQ(formatValue(17179869184.0), "17179869184");
  EXPECT_EQ(formatValue(0.0025), "0.0025");
  EXPECT_EQ(formatValue(2.5), "2.5");
  EXPECT_EQ(formatValue(1e300), "1e+300");
  EXPECT_EQ(formatValue(std::numeric_limits<double>::infinity()), "+Inf");
  EXPECT_EQ(formatValue(-std::numeric_limits<double>::infinity()), "-Inf");
  EXPECT_EQ(formatValue(std::nan("")), "NaN");
}

}  // namespace
}  // namespace vhost::prom
