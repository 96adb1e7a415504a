// The process snapshot and processor times through the system queries, read by field offset.
#include "top/process_sample.h"

#include <algorithm>
#include <cstring>

#include "json.h"
#include "winapi.h"

namespace vhost {

namespace {

using QueryFn = LONG(NTAPI*)(ULONG infoClass, PVOID buffer, ULONG length, PULONG returned);

constexpr ULONG kProcessClass = 5;
constexpr ULONG kProcessorClass = 8;
constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004u);

// Offsets in the published 64-bit process entry and processor-times entry.
constexpr size_t kNextEntry = 0, kWorkingSetPrivate = 8, kCreateTime = 32, kUserTime = 40, kKernelTime = 48,
                 kNameLength = 56, kNameBuffer = 64, kProcessId = 80, kMinimumEntry = 256;
constexpr size_t kProcessorEntry = 48, kKernel = 8, kUser = 16;  // kernel time includes idle

template <class T>
T readAt(const std::byte* base, size_t offset) {
  T value;
  std::memcpy(&value, base + offset, sizeof value);
  return value;
}

QueryFn query() {
  static const QueryFn fn = [] {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    FARPROC proc = ntdll != nullptr ? GetProcAddress(ntdll, "NtQuerySystemInformation") : nullptr;
    return reinterpret_cast<QueryFn>(reinterpret_cast<void (*)()>(proc));
  }();
  return fn;
}

// Closes a handle of the seam when it goes.
struct ScopedHandle {
  HANDLE handle = nullptr;
  ScopedHandle() = default;
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() {
    if (handle != nullptr) CloseHandle(handle);
  }
};

std::optional<int64_t> processorTime(QueryFn fn) {
  std::byte buffer[kProcessorEntry * 128];
  ULONG returned = 0;
  if (fn(kProcessorClass, buffer, sizeof buffer, &returned) != 0) return std::nullopt;
  int64_t total = 0;
  for (size_t at = 0; at + kProcessorEntry <= std::min<size_t>(returned, sizeof buffer); at += kProcessorEntry)
    total += readAt<int64_t>(buffer, at + kKernel) + readAt<int64_t>(buffer, at + kUser);
  return total;
}

}  // namespace

std::optional<MachineSample> MachineSampler::sample() {
  QueryFn fn = query();
  if (fn == nullptr) return std::nullopt;
  MachineSample out;
  if (std::optional<int64_t> total = processorTime(fn)) out.processorTime = *total; else return std::nullopt;

  if (buffer_.empty()) buffer_.resize(1 << 20);
  ULONG returned = 0;
  LONG status = kLengthMismatch;
  for (int attempt = 0; attempt < 4 && status == kLengthMismatch; ++attempt) {
    status = fn(kProcessClass, buffer_.data(), static_cast<ULONG>(buffer_.size()), &returned);
    if (status == kLengthMismatch) buffer_.resize(std::max<size_t>(returned, buffer_.size()) + (256 << 10));
  }
  if (status != 0) return std::nullopt;

  const std::byte* begin = buffer_.data();
  const size_t size = std::min<size_t>(returned, buffer_.size());
  for (size_t at = 0; at + kMinimumEntry <= size;) {
    const std::byte* entry = begin + at;
    ProcessEntry p;
    p.pid = static_cast<uint32_t>(readAt<uint64_t>(entry, kProcessId));
    p.createTime = readAt<int64_t>(entry, kCreateTime);
    p.cpuTime = readAt<int64_t>(entry, kUserTime) + readAt<int64_t>(entry, kKernelTime);
    p.privateBytes = static_cast<uint64_t>(std::max<int64_t>(0, readAt<int64_t>(entry, kWorkingSetPrivate)));
    // The name lies inside the same buffer; one that points elsewhere is left empty.
    const auto name = readAt<uint64_t>(entry, kNameBuffer);
    const size_t nameBytes = readAt<uint16_t>(entry, kNameLength);
    const auto low = reinterpret_cast<uintptr_t>(begin);
    if (nameBytes > 0 && name >= low && name - low <= size && size - (name - low) >= nameBytes &&
        name % alignof(WCHAR) == 0)
      p.name = utf8(std::wstring_view(reinterpret_cast<const wchar_t*>(name), nameBytes / sizeof(WCHAR)));
    if (p.pid != 0) out.processes.push_back(std::move(p));
    const uint32_t next = readAt<uint32_t>(entry, kNextEntry);
    if (next == 0) break;
    at += next;
  }
  std::sort(out.processes.begin(), out.processes.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
  return out;
}

std::vector<ProcessShare> processShares(const MachineSample* previous, const MachineSample& current,
                                        uint64_t totalPhysBytes) {
  const int64_t elapsed = previous != nullptr ? current.processorTime - previous->processorTime : 0;
  std::vector<ProcessShare> shares;
  shares.reserve(current.processes.size());
  for (const ProcessEntry& p : current.processes) {
    ProcessShare share{p.pid, p.name, 0, 0};
    if (elapsed > 0) {
      auto before = std::lower_bound(previous->processes.begin(), previous->processes.end(), p.pid,
                                     [](const ProcessEntry& e, uint32_t pid) { return e.pid < pid; });
      if (before != previous->processes.end() && before->pid == p.pid && before->createTime == p.createTime &&
          p.cpuTime >= before->cpuTime)
        share.cpuPercent = std::min(100.0, static_cast<double>(p.cpuTime - before->cpuTime) * 100.0 /
                                               static_cast<double>(elapsed));
    }
    if (totalPhysBytes > 0)
      share.memoryPercent =
          std::min(100.0, static_cast<double>(p.privateBytes) * 100.0 / static_cast<double>(totalPhysBytes));
    shares.push_back(std::move(share));
  }
  return shares;
}

std::string processUser(uint32_t pid) {
  ScopedHandle process, token;
  process.handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process.handle == nullptr) return {};
  std::string user;
  if (OpenProcessToken(process.handle, TOKEN_QUERY, &token.handle)) {
    alignas(8) std::byte info[256];
    DWORD length = 0;
    if (GetTokenInformation(token.handle, TokenUser, info, sizeof info, &length)) {
      WCHAR name[256], domain[256];
      DWORD nameLength = 256, domainLength = 256;
      SID_NAME_USE use;
      if (LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(info)->User.Sid, name, &nameLength, domain,
                            &domainLength, &use))
        user = utf8(domain) + "\\" + utf8(name);
    }
  }
  return user;
}

}  // namespace vhost
