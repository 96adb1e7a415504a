// Parser of `net/dev`: "name: rx-bytes rx-packets ... (8 receive, 8 transmit figures)".
#include "procfs/netdev_parse.h"

#include "procfs/procfs_text.h"

namespace winapi_linux::procfs {

namespace {

std::optional<NetDevStat> parseLine(std::string_view line) {
  // Interface names cannot hold ':', so the first one ends the name; old kernels print the
  // first figure right after it.
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return std::nullopt;  // a heading line
  std::string_view name = line.substr(0, colon);
  while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
  if (name.empty() || name.find_first_of(" \t") != std::string_view::npos) return std::nullopt;
  FieldScanner fields(line.substr(colon + 1));
  uint64_t v[16];
  for (uint64_t& value : v) {
    auto n = fields.number<uint64_t>();
    if (!n) return std::nullopt;
    value = *n;
  }
  return NetDevStat{std::string(name), v[0], v[1], v[8], v[9]};
}

}  // namespace

std::vector<NetDevStat> parseNetDev(std::string_view text) {
  std::vector<NetDevStat> devices;
  LineSplitter lines(text);
  std::string_view line;
  while (lines.next(line)) {
    if (line.back() != '\n') break;  // cut off: its last figure may have lost digits
    if (auto d = parseLine(line)) devices.push_back(std::move(*d));
  }
  return devices;
}

}  // namespace winapi_linux::procfs
