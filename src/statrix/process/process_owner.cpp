// Owner lookup: process handle, token, the token's user SID, then the account's domain and name.
#include "process/process_owner.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "frame/log.h"
#include "frame/scoped_handle.h"

namespace {

constexpr DWORD kTokenBufferSize = 2048;
constexpr DWORD kAccountChars = 512;
// Sizes the system may ask for beyond the fixed buffers; anything larger is refused.
constexpr DWORD kMaxTokenBufferSize = 64 * 1024;
constexpr DWORD kMaxAccountChars = 32 * 1024;

void traceFailure(CORE::wformat<CORE::corestring> format) {
  LogMessage(CORE::Trace, format, CORE::corestring::formatError(GetLastError()));
}

// The token's user SID, or null when the call failed or its answer does not hold a whole SID
// inside the bytes it reported. `storage` keeps the bytes the SID points into.
PSID readTokenUser(HANDLE token, std::vector<std::byte>& storage) {
  storage.assign(kTokenBufferSize, std::byte{0});
  DWORD returned = 0;
  BOOL ok = GetTokenInformation(token, TokenUser, storage.data(), static_cast<DWORD>(storage.size()), &returned);
  // A user SID that does not fit the usual buffer: one more try with the size the system gave.
  if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER && returned > storage.size() &&
      returned <= kMaxTokenBufferSize) {
    storage.assign(returned, std::byte{0});
    ok = GetTokenInformation(token, TokenUser, storage.data(), static_cast<DWORD>(storage.size()), &returned);
  }
  if (!ok) {
    traceFailure(L"GetTokenInformation() failed: %s");
    return nullptr;
  }
  const size_t used = returned != 0 && returned <= storage.size() ? returned : storage.size();
  const PSID sid = tokenUserSid(storage.data(), used);
  if (sid == nullptr) {
    LogMessage(CORE::Trace, L"GetTokenInformation() failed: %s", CORE::corestring::formatError(ERROR_INVALID_DATA));
  }
  return sid;
}

// Looks the SID up on the local system; true with "domain\name" in `user`.
bool lookupAccount(PSID sid, CORE::corestring& user) {
  std::vector<WCHAR> name(kAccountChars, 0);
  std::vector<WCHAR> domain(kAccountChars, 0);
  DWORD nameChars = kAccountChars;
  DWORD domainChars = kAccountChars;
  SID_NAME_USE use;
  BOOL ok = LookupAccountSidW(nullptr, sid, name.data(), &nameChars, domain.data(), &domainChars, &use);
  // A name or domain longer than the buffers: once more with the sizes the system asked for.
  if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER && nameChars <= kMaxAccountChars &&
      domainChars <= kMaxAccountChars && (nameChars > name.size() || domainChars > domain.size())) {
    name.assign(std::max<size_t>(nameChars, kAccountChars), 0);
    domain.assign(std::max<size_t>(domainChars, kAccountChars), 0);
    nameChars = static_cast<DWORD>(name.size());
    domainChars = static_cast<DWORD>(domain.size());
    ok = LookupAccountSidW(nullptr, sid, name.data(), &nameChars, domain.data(), &domainChars, &use);
  }
  if (!ok) {
    traceFailure(L"LookupAccountSid() failed: %s");
    return false;
  }
  // Both buffers were zero-filled and the system terminates what it writes; the terminator is
  // searched for rather than trusted, so a full buffer is never read past its end.
  const auto text = [](const std::vector<WCHAR>& buffer) {
    size_t length = 0;
    while (length < buffer.size() && buffer[length] != 0) ++length;
    return CORE::corestring(std::wstring(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length)));
  };
  user = text(domain) + L"\\" + text(name);
  return true;
}

}  // namespace

PSID tokenUserSid(const std::byte* data, size_t length) {
  if (length < sizeof(TOKEN_USER)) return nullptr;
  TOKEN_USER user;
  std::memcpy(&user, data, sizeof user);
  // Compared as addresses: the pointer comes from the system.
  const auto sid = reinterpret_cast<uintptr_t>(user.User.Sid);
  const auto begin = reinterpret_cast<uintptr_t>(data);
  constexpr size_t kHeader = 8;  // revision, sub-authority count, 6-byte authority
  if (sid < begin + sizeof(TOKEN_USER) || sid - begin > length || length - (sid - begin) < kHeader) return nullptr;
  const size_t subAuthorities = static_cast<size_t>(data[sid - begin + 1]);
  if (length - (sid - begin) < kHeader + 4 * subAuthorities) return nullptr;
  return user.User.Sid;
}

CORE::corestring processOwner(uint32_t pid) {
  CORE::corestring user(L"SYSTEM");
  const ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
  if (!process) {
    traceFailure(L"OpenProcess() failed: %s");
    return user;
  }
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(process.get(), TOKEN_QUERY, &rawToken)) {
    traceFailure(L"OpenProcessToken() failed: %s");
    return user;
  }
  const ScopedHandle token(rawToken);
  std::vector<std::byte> tokenUser;
  if (const PSID sid = readTokenUser(token.get(), tokenUser)) lookupAccount(sid, user);
  return user;
}
