// Parsing of one HTTP/1.x request head (request line and header fields) from a byte buffer.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace vhost {

struct HttpRequest {
  std::string method;
  std::string target;         // as sent: path and optional query
  std::string path;           // target without its query
  bool http10 = false;        // HTTP/1.0: the connection closes after the answer
  bool wantsClose = false;    // "Connection: close"
  bool hasBody = false;       // a Content-Length above 0 or a Transfer-Encoding
  std::string authorization;  // the Authorization field, empty when absent
};

struct RequestParse {
  enum class Status { Incomplete, Done, Error };
  Status status = Status::Incomplete;
  size_t consumed = 0;    // Done: bytes of the head, the next request starts after them
  int errorStatus = 0;    // Error: the HTTP status to answer with
  const char* why = "";   // Error: a short reason for the answer's body
  HttpRequest request;    // Done
};

// Looks for one complete request head at the start of `buffer`. A head that is not complete
// within `maxHeadBytes` is an error (431; 414 when the request line alone is that long), as is
// anything malformed (400) or another protocol version (505). Lines may end in CRLF or LF.
RequestParse parseRequestHead(std::string_view buffer, size_t maxHeadBytes);

}  // namespace vhost
