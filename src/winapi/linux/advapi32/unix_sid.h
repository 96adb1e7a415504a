// The binary SID of a Unix user, S-1-22-1-<uid>, as tokens carry it and account lookup reads it.
#pragma once
#include <cstdint>
#include <cstring>
#include <optional>

#include "winapi.h"

namespace winapi_linux {

inline constexpr BYTE kUnixAuthority = 22;  // S-1-22: Unix accounts
inline constexpr DWORD kUnixUserKind = 1;   // S-1-22-1: users (2 would be groups)
inline constexpr DWORD kUnixUserSidLength = 8 + 2 * sizeof(DWORD);

// Writes the SID of `uid` to `out` (kUnixUserSidLength bytes, any alignment).
inline void writeUnixUserSid(uint32_t uid, void* out) {
  unsigned char sid[kUnixUserSidLength] = {SID_REVISION, 2, 0, 0, 0, 0, 0, kUnixAuthority};
  DWORD sub[2] = {kUnixUserKind, uid};
  std::memcpy(sid + 8, sub, sizeof sub);
  std::memcpy(out, sid, sizeof sid);
}

// The uid of a S-1-22-1-<uid> SID; nullopt for any other SID.
inline std::optional<uint32_t> unixUserOfSid(const void* sid) {
  const auto* p = static_cast<const unsigned char*>(sid);
  static constexpr unsigned char kHead[8] = {SID_REVISION, 2, 0, 0, 0, 0, 0, kUnixAuthority};
  if (std::memcmp(p, kHead, sizeof kHead) != 0) return std::nullopt;
  DWORD sub[2];
  std::memcpy(sub, p + 8, sizeof sub);
  if (sub[0] != kUnixUserKind) return std::nullopt;
  return sub[1];
}

}  // namespace winapi_linux
