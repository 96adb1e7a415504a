// Request heads: what is complete, what is refused with which status, and where the next
// pipelined request starts.
#include <gtest/gtest.h>

#include "metrics/http_request.h"

namespace vhost {
namespace {

using Status = RequestParse::Status;

TEST(HttpRequestHead, CompleteHeadsAndTheFieldsActedOn) {
  struct Case {
    std::string text;
    std::string method, path;
    bool http10, wantsClose, hasBody;
    std::string authorization;
  };
  const Case cases[] = {
      {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", "GET", "/metrics", false, false, false, ""},
      {"HEAD /metrics?x=1#y HTTP/1.0\n\n", "HEAD", "/metrics", true, false, false, ""},
      {"\r\nGET / HTTP/1.1\r\nConnection: keep-alive, Close\r\n\r\n", "GET", "/", false, true, false, ""},
      {"GET / HTTP/1.1\r\ncontent-length: 000\r\n\r\n", "GET", "/", false, false, false, ""},
      {"GET / HTTP/1.1\r\nContent-Length: 2048\r\n\r\n", "GET", "/", false, false, true, ""},
      {"GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", "GET", "/", false, false, true, ""},
      {"GET / HTTP/1.1\r\nAuthorization:   Basic YTpi  \r\n\r\n", "GET", "/", false, false, false, "Basic YTpi"},
  };
  for (const Case& c : cases) {
    RequestParse r = parseRequestHead(c.text, 8192);
    ASSERT_EQ(r.status, Status::Done) << c.text << r.why;
    EXPECT_EQ(r.consumed, c.text.size()) << c.text;
    EXPECT_EQ(r.request.method, c.method) << c.text;
    EXPECT_EQ(r.request.path, c.path) << c.text;
    EXPECT_EQ(r.request.http10, c.http10) << c.text;
    EXPECT_EQ(r.request.wantsClose, c.wantsClose) << c.text;
    EXPECT_EQ(r.request.hasBody, c.hasBody) << c.text;
    EXPECT_EQ(r.request.authorization, c.authorization) << c.text;
  }
}

TEST(HttpRequestHead, RefusedHeadsAndTheirStatus) {
  const std::pair<std::string, int> cases[] = {
      {"GET /metrics HTTP/2.0\r\n\r\n", 505},
      {"GET metrics HTTP/1.1\r\n\r\n", 400},
      {"GET  /metrics HTTP/1.1\r\n\r\n", 400},
      {"GET /metrics\r\n\r\n", 400},
      {"G(T /metrics HTTP/1.1\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nNo colon here\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nX: a\r\n folded\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nX: a\rb\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nAuthorization: a\r\nAuthorization: b\r\n\r\n", 400},
      // Bounds: the head in total, and the request line alone.
      {"GET / HTTP/1.1\r\n" + std::string(100, 'X') + ": " + std::string(100, 'y') + "\r\n", 431},
      {"GET / HTTP/1.1\r\nA: b\r\nC: " + std::string(300, 'd') + "\r\n\r\n", 431},
      {"GET /" + std::string(300, 'a'), 414},
  };
  for (const auto& [text, status] : cases) {
    RequestParse r = parseRequestHead(text, 200);
    EXPECT_EQ(r.status, Status::Error) << text;
    EXPECT_EQ(r.errorStatus, status) << text;
  }
}

TEST(HttpRequestHead, IncompleteUntilTheEmptyLineAndPipelinedRequestsOneByOne) {
  const std::string two = "GET /metrics HTTP/1.1\r\n\r\nHEAD / HTTP/1.1\r\n\r\n";
  for (size_t cut = 0; cut < 25; ++cut)
    EXPECT_EQ(parseRequestHead(two.substr(0, cut), 8192).status, Status::Incomplete) << cut;
  RequestParse first = parseRequestHead(two, 8192);
  ASSERT_EQ(first.status, Status::Done);
  EXPECT_EQ(first.request.method, "GET");
  RequestParse second = parseRequestHead(std::string_view(two).substr(first.consumed), 8192);
  ASSERT_EQ(second.status, Status::Done);
  EXPECT_EQ(second.request.method, "HEAD");
  EXPECT_EQ(first.consumed + second.consumed, two.size());
}

}  // namespace
}  // namespace vhost
