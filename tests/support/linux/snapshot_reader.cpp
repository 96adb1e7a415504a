// Reads process snapshot entries by their published 64-bit offsets, checking the layout rules.
#include "support/linux/snapshot_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "winapi.h"

namespace statrix_test {

namespace {

template <class T>
T at(const unsigned char* p, size_t offset) {
  T v;
  std::memcpy(&v, p + offset, sizeof v);
  return v;
}

}  // namespace

std::vector<SnapshotEntry> takeSnapshot(long* status) {
  std::vector<unsigned char> buf;
  ULONG size = 0, used = 0;
  NTSTATUS result = STATUS_INFO_LENGTH_MISMATCH;
  for (int round = 0; round < 5 && result == STATUS_INFO_LENGTH_MISMATCH; ++round) {
    result = NtQuerySystemInformation(SystemProcessInformation, buf.data(), size, &used);
    if (result == STATUS_INFO_LENGTH_MISMATCH) {
      size = std::max(size, used) + 16384;
      buf.resize(size);
    }
  }
  if (status) *status = result;
  std::vector<SnapshotEntry> entries;
  if (result != STATUS_SUCCESS) return entries;
  for (size_t off = 0;;) {
    // 8-aligned entries; each name behind the fixed part inside the answer, NUL-terminated,
    // its lengths in bytes; the answer ends with the last entry.
    EXPECT_EQ(off % 8, 0u);
    const unsigned char* p = buf.data() + off;
    const auto* name = at<const wchar_t*>(p, 0x40);
    const auto length = at<uint16_t>(p, 0x38), maximum = at<uint16_t>(p, 0x3A);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(name), p + 0x100);
    EXPECT_EQ(maximum, length + sizeof(wchar_t));
    EXPECT_LE(off + 0x100 + maximum, used);
    if (reinterpret_cast<const unsigned char*>(name) != p + 0x100 || off + 0x100 + maximum > used) break;
    EXPECT_EQ(name[length / sizeof(wchar_t)], L'\0');
    SnapshotEntry e;
    e.threads = at<uint32_t>(p, 0x04);
    e.workingSetPrivate = at<int64_t>(p, 0x08);
    e.createTime = at<int64_t>(p, 0x20);
    e.userTime = at<int64_t>(p, 0x28);
    e.kernelTime = at<int64_t>(p, 0x30);
    e.name.assign(name, length / sizeof(wchar_t));
    e.pid = at<uint64_t>(p, 0x50);
    e.parent = at<uint64_t>(p, 0x58);
    e.session = at<uint32_t>(p, 0x64);
    e.workingSet = at<uint64_t>(p, 0x90);
    e.privateBytes = at<uint64_t>(p, 0xC8);
    entries.push_back(std::move(e));
    auto next = at<uint32_t>(p, 0x00);
    if (next == 0) {
      EXPECT_LT(used - (off + 0x100 + maximum), 8u) << "at most the padding to 8 bytes";
      break;
    }
    off += next;
  }
  return entries;
}

std::vector<uint64_t> snapshotPids(const std::vector<SnapshotEntry>& entries) {
  std::vector<uint64_t> out;
  for (const SnapshotEntry& e : entries) out.push_back(e.pid);
  return out;
}

int64_t ticksAsNtTime(uint64_t ticks) { return static_cast<int64_t>(ticks * 10'000'000 / sysconf(_SC_CLK_TCK)); }

}  // namespace statrix_test
