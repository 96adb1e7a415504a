// Parser of `diskstats`: "major minor name" and at least eleven counters per line.
#include "procfs/diskstats_parse.h"

#include "procfs/procfs_text.h"

namespace winapi_linux::procfs {

namespace {

std::optional<DiskStat> parseLine(std::string_view line) {
  FieldScanner fields(line);
  if (!fields.number<uint64_t>() || !fields.number<uint64_t>()) return std::nullopt;
  auto name = fields.field();
  if (!name) return std::nullopt;
  uint64_t v[11];
  for (uint64_t& value : v) {
    auto n = fields.number<uint64_t>();
    if (!n) return std::nullopt;
    value = *n;
  }
  // Later kernels append discard and flush figures; they are not used.
  DiskStat d;
  d.name = std::string(*name);
  d.reads = v[0], d.sectorsRead = v[2], d.msReading = v[3];
  d.writes = v[4], d.sectorsWritten = v[6], d.msWriting = v[7];
  d.inProgress = v[8], d.msDoingIo = v[9], d.weightedMs = v[10];
  return d;
}

}  // namespace

std::vector<DiskStat> parseDiskstats(std::string_view text) {
  std::vector<DiskStat> disks;
  LineSplitter lines(text);
  std::string_view line;
  while (lines.next(line)) {
    // A last line without its end may have lost digits of its last figure.
    if (line.back() != '\n') break;
    if (auto d = parseLine(line)) disks.push_back(std::move(*d));
  }
  return disks;
}

}  // namespace winapi_linux::procfs
