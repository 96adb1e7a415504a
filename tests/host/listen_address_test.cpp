// ADDR:PORT of --metrics-listen.
#include "listen_address.h"

#include <gtest/gtest.h>

namespace vhost {
namespace {

TEST(ListenAddress, GoodForms) {
  ListenAddress a;
  std::string error;
  ASSERT_TRUE(parseListenAddress("127.0.0.1:9464", a, error)) << error;
  EXPECT_EQ(a.host, "127.0.0.1");
  EXPECT_EQ(a.port, 9464);
  ASSERT_TRUE(parseListenAddress("[::1]:65535", a, error)) << error;
  EXPECT_EQ(a.host, "::1");
  EXPECT_EQ(a.port, 65535);
  ASSERT_TRUE(parseListenAddress("localhost:1", a, error)) << error;
  EXPECT_EQ(a.host, "localhost");
}

TEST(ListenAddress, BadFormsNameTheReason) {
  ListenAddress a;
  std::string error;
  for (const char* bad : {"9464", ":9464", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:94x",
                          "::1:9464", "[::1:9464", "[]:9464", "127.0.0.1:+80"}) {
    EXPECT_FALSE(parseListenAddress(bad, a, error)) << bad;
    EXPECT_NE(error.find(bad), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace vhost
