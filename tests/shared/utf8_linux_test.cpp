// The Linux layer's text conversions follow the shared codec's rule for malformed bytes.
#include <gtest/gtest.h>

#include "common/wide_text.h"
#include "varnel/corestring.h"

namespace {

TEST(LayerWideText, DecodesMalformedBytesAsTheFrameworkDoes) {
  for (const char* text : {"a\xE2\x82" "b", "\xF0\x9F\x98", "x\x80y", "\xED\xA0\x80"}) {
    EXPECT_EQ(winapi_linux::wide_text::fromUtf8Lossy(text), CORE::corestring::fromUtf8(text).str()) << text;
    EXPECT_FALSE(winapi_linux::wide_text::fromUtf8(text).has_value()) << text;
  }
  EXPECT_EQ(winapi_linux::wide_text::fromUtf8Lossy("a\xE2\x82" "b").size(), 3u);
}

}  // namespace
