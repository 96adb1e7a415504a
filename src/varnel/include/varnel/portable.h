// CORE::coreportable: identity of the calling thread and session lookup.
#pragma once
#include <cstdint>

namespace CORE {

struct VARNEL_API coreportable {
  // True when the caller (the impersonated requester, else the service's own identity, which
  // is an administrator) is an administrator. `token` null means the calling thread; the
  // stand-in has no tokens of its own, so the calling thread decides in any case.
  static bool isAdmin(void* token);
  // Session of a process (0 for services and unknown processes).
  static uint32_t getSessionId(uint32_t pid);
};

}  // namespace CORE
