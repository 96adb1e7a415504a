// Builds process snapshots in the system's 64-bit entry layout for tests and benchmarks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "process/process_entry.h"
#include "process/process_snapshot.h"

struct FakeProcess {
  uint64_t pid = 0;
  int64_t createTime = 0;
  int64_t userTime = 0;
  int64_t kernelTime = 0;
  int64_t workingSetPrivate = 0;
  uint32_t sessionId = 0;
  uint64_t privatePageCount = 0;
  std::wstring name = L"proc.exe";
};

// Raw snapshot bytes; tests may alter them before handing them to a ProcessSnapshot.
struct SnapshotBytes {
  std::unique_ptr<std::byte[]> data;
  size_t size = 0;
  std::vector<size_t> offsets;  // where each entry starts

  ProcessSnapshot take() { return ProcessSnapshot(std::move(data), size); }
};

inline SnapshotBytes buildSnapshotBytes(const std::vector<FakeProcess>& processes) {
  auto entrySize = [](const FakeProcess& p) {
    const size_t bytes = sizeof(nt::ProcessInfoLayout) + (p.name.size() + 1) * sizeof(WCHAR);
    return (bytes + 7) / 8 * 8;
  };
  SnapshotBytes out;
  for (const FakeProcess& p : processes) out.size += entrySize(p);
  out.data = std::make_unique<std::byte[]>(out.size);  // zero-filled
  size_t at = 0;
  for (size_t i = 0; i < processes.size(); ++i) {
    const FakeProcess& p = processes[i];
    const size_t size = entrySize(p);
    std::byte* entry = out.data.get() + at;
    WCHAR* name = reinterpret_cast<WCHAR*>(entry + sizeof(nt::ProcessInfoLayout));
    std::memcpy(name, p.name.c_str(), (p.name.size() + 1) * sizeof(WCHAR));

    nt::ProcessInfoLayout layout{};
    layout.NextEntryOffset = i + 1 < processes.size() ? static_cast<uint32_t>(size) : 0;
    layout.WorkingSetPrivateSize = p.workingSetPrivate;
    layout.CreateTime = p.createTime;
    layout.UserTime = p.userTime;
    layout.KernelTime = p.kernelTime;
    layout.ImageNameLength = static_cast<uint16_t>(p.name.size() * sizeof(WCHAR));
    layout.ImageNameMaximumLength = static_cast<uint16_t>((p.name.size() + 1) * sizeof(WCHAR));
    layout.ImageNameBuffer = reinterpret_cast<uint64_t>(name);
    layout.UniqueProcessId = p.pid;
    layout.SessionId = p.sessionId;
    layout.PrivatePageCount = p.privatePageCount;
    std::memcpy(entry, &layout, sizeof(layout));
    out.offsets.push_back(at);
    at += size;
  }
  return out;
}

inline ProcessSnapshot buildSnapshot(const std::vector<FakeProcess>& processes) {
  return buildSnapshotBytes(processes).take();
}
