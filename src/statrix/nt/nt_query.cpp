// Looks up the system-information queries in "ntdll.dll" and keeps their addresses.
#include "nt/nt_query.h"

#include <atomic>

namespace nt {
namespace {

// Written by whichever thread reschedules the watch, read by the timer thread.
std::atomic<QuerySystemInformationFn> plainQuery{nullptr};
std::atomic<QuerySystemInformationExFn> groupQuery{nullptr};

// GetProcAddress hands back a generic function pointer; going through void(*)() keeps the
// conversion to the real signature explicit without a function-type-cast warning.
template <class Fn>
Fn lookup(HMODULE module, const char* name) {
  FARPROC proc = GetProcAddress(module, name);
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace

bool resolveQueries() {
  if (plainQuery.load(std::memory_order_acquire) != nullptr) return true;
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (ntdll == nullptr) return false;
  groupQuery.store(lookup<QuerySystemInformationExFn>(ntdll, "NtQuerySystemInformationEx"), std::memory_order_release);
  QuerySystemInformationFn plain = lookup<QuerySystemInformationFn>(ntdll, "NtQuerySystemInformation");
  plainQuery.store(plain, std::memory_order_release);
  return plain != nullptr;
}

QuerySystemInformationFn querySystemInformation() { return plainQuery.load(std::memory_order_acquire); }
QuerySystemInformationExFn querySystemInformationEx() { return groupQuery.load(std::memory_order_acquire); }

}  // namespace nt
