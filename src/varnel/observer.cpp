// The logging sink and the host observer: where system messages and load notices go.
#include <atomic>
#include <cstdio>
#include <string>

#include "varnel/corestring.h"
#include "varnel/host_control.h"
#include "varnel/logging.h"

namespace CORE {

corelogExternalFn corelogExternal = nullptr;

namespace {

std::atomic<HostObserver*> g_observer{nullptr};
std::atomic<int> g_lowestLevel{0};

const wchar_t* levelName(int level) {
  switch (level) {
    case Trace: return L"Trace";
    case Debug: return L"Debug";
    case Info: return L"Info";
    case Warn: return L"Warn";
    case Error: return L"Error";
    default: return nullptr;
  }
}

// Without an observer: "<level> <source>: <text>" on stderr, one write per line so that
// lines of different threads do not interleave.
void writeStderr(int level, std::wstring_view source, std::wstring_view text) {
  const wchar_t* name = levelName(level);
  corestring line = name ? corestring(name) : corestring(L"Level") + corestring(level, 10);
  line += corestring(L" ") + corestring(source) + corestring(L": ") + corestring(text) + corestring(L"\n");
  const std::string bytes = line.utf8();
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

void setHostObserver(HostObserver* observer) { g_observer.store(observer, std::memory_order_release); }
HostObserver* hostObserver() { return g_observer.load(std::memory_order_acquire); }
void setLogLevel(int lowest) { g_lowestLevel.store(lowest, std::memory_order_relaxed); }

// Logging never fails its caller: a line that cannot be formatted or delivered is dropped.
void __SysMessage(int level, const wchar_t* source, const wchar_t* format, const FormatArg* args, size_t count,
                  const wchar_t* reserved1, const wchar_t* reserved2) {
  (void)reserved1;
  (void)reserved2;
  if (level < g_lowestLevel.load(std::memory_order_relaxed)) return;
  try {
    const std::wstring text = formatMessage(format, args, count);
    const std::wstring from = source ? source : L"";
    if (HostObserver* observer = hostObserver()) observer->onSysMessage(level, from, text);
    else writeStderr(level, from, text);
  } catch (...) {
  }
}

void sysmsgLogLoaded(void* moduleHandle, bool flag) {
  (void)flag;  // reserved
  try {
    const corestring name = corestring::getModuleName(moduleHandle).lastPath();
    if (HostObserver* observer = hostObserver()) observer->onLoaded(name.str());
    else if (Info >= g_lowestLevel.load(std::memory_order_relaxed))
      writeStderr(Info, L"varnel", L"loaded " + name.str());
  } catch (...) {
  }
}

}  // namespace CORE
