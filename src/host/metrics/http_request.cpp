// HTTP/1.x request heads: request line, header fields, the few fields the endpoint acts on.
#include "metrics/http_request.h"

#include <algorithm>
#include <cctype>

namespace vhost {

namespace {

bool isTokenChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view s) { return !s.empty() && std::all_of(s.begin(), s.end(), isTokenChar); }

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

RequestParse error(int status, const char* why) {
  RequestParse r;
  r.status = RequestParse::Status::Error;
  r.errorStatus = status;
  r.why = why;
  return r;
}

// A comma-separated field value lists `word` (case-insensitive).
bool listsWord(std::string_view value, std::string_view word) {
  while (!value.empty()) {
    size_t comma = value.find(',');
    if (equalsIgnoreCase(trim(value.substr(0, comma)), word)) return true;
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

RequestParse parseRequestHead(std::string_view buffer, size_t maxHeadBytes) {
  // Empty lines before a request are skipped (some clients add a CRLF after a request); the
  // head ends with the next empty line.
  size_t start = 0;
  while (start < buffer.size() && (buffer[start] == '\r' || buffer[start] == '\n')) ++start;
  size_t end = std::string_view::npos;
  for (size_t pos = start, nl; (nl = buffer.find('\n', pos)) != std::string_view::npos;) {
    std::string_view line = buffer.substr(pos, nl - pos);
    pos = nl + 1;
    if (line.empty() || line == "\r") {
      end = pos;
      break;
    }
  }
  if (end == std::string_view::npos || end > maxHeadBytes) {
    const size_t firstLineEnd = buffer.find('\n', start);
    if (firstLineEnd == std::string_view::npos ? buffer.size() - start >= maxHeadBytes : firstLineEnd >= maxHeadBytes)
      return error(414, "request line too long");
    if (buffer.size() >= maxHeadBytes || end != std::string_view::npos) return error(431, "request head too large");
    return RequestParse{};
  }

  RequestParse r;
  HttpRequest& req = r.request;
  std::string_view head = buffer.substr(start, end - start);
  bool first = true;
  bool haveLength = false;
  while (!head.empty()) {
    size_t nl = head.find('\n');
    std::string_view line = head.substr(0, nl);
    head.remove_prefix(nl + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty()) break;
    if (line.find('\r') != std::string_view::npos || line.find('\0') != std::string_view::npos)
      return error(400, "stray control character");
    if (first) {
      first = false;
      size_t sp1 = line.find(' ');
      size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
      if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos)
        return error(400, "malformed request line");
      std::string_view method = line.substr(0, sp1), target = line.substr(sp1 + 1, sp2 - sp1 - 1),
                       version = line.substr(sp2 + 1);
      if (!isToken(method) || target.empty() || target.front() != '/') return error(400, "malformed request line");
      if (version == "HTTP/1.0")
        req.http10 = true;
      else if (version != "HTTP/1.1")
        return error(version.starts_with("HTTP/") ? 505 : 400, "HTTP/1.1 or HTTP/1.0 only");
      req.method = method;
      req.target = target;
      size_t cut = target.find_first_of("?#");
      req.path = target.substr(0, cut);
      continue;
    }
    if (line.front() == ' ' || line.front() == '\t') return error(400, "folded header line");
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || !isToken(line.substr(0, colon))) return error(400, "malformed header line");
    std::string_view name = line.substr(0, colon), value = trim(line.substr(colon + 1));
    if (equalsIgnoreCase(name, "Content-Length")) {
      if (haveLength || value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos)
        return error(400, "bad Content-Length");
      haveLength = true;
      if (value.find_first_not_of('0') != std::string_view::npos) req.hasBody = true;
    } else if (equalsIgnoreCase(name, "Transfer-Encoding")) {
      req.hasBody = true;
    } else if (equalsIgnoreCase(name, "Connection")) {
      if (listsWord(value, "close")) req.wantsClose = true;
    } else if (equalsIgnoreCase(name, "Authorization")) {
      if (!req.authorization.empty()) return error(400, "two Authorization fields");
      req.authorization = value;
    }
  }
  if (first) return error(400, "no request line");
  r.status = RequestParse::Status::Done;
  r.consumed = end;
  return r;
}

}  // namespace vhost
