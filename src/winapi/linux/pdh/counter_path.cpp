// Counter-path parsing. Counter names may hold "/" and "(" ("Disk Reads/sec"), so the counter
// is everything after the last "\"; the instance is what stands between the first "(" after
// the object name and the ")" that ends the object part.
#include "pdh/counter_path.h"

#include "procfs/procfs_text.h"

namespace winapi_linux::perf {

std::optional<CounterPath> parseCounterPath(std::wstring_view path) {
  if (path.empty() || path.size() > kMaxCounterPath || path[0] != L'\\') return std::nullopt;
  CounterPath result;
  std::wstring_view rest = path;
  if (rest.size() >= 2 && rest[1] == L'\\') {
    rest.remove_prefix(2);
    size_t end = rest.find(L'\\');
    if (end == 0 || end == std::wstring_view::npos) return std::nullopt;
    result.machine = rest.substr(0, end);
    rest.remove_prefix(end);
  }
  rest.remove_prefix(1);  // the "\" before the object
  size_t lastSlash = rest.rfind(L'\\');
  if (lastSlash == std::wstring_view::npos) return std::nullopt;
  std::wstring_view objectPart = rest.substr(0, lastSlash);
  std::wstring_view counter = rest.substr(lastSlash + 1);
  if (counter.empty() || objectPart.empty()) return std::nullopt;
  result.counter = counter;

  size_t open = objectPart.find(L'(');
  if (open == std::wstring_view::npos) {
    if (objectPart.find(L')') != std::wstring_view::npos) return std::nullopt;
    result.object = objectPart;
    return result;
  }
  if (open == 0 || objectPart.back() != L')') return std::nullopt;
  result.object = objectPart.substr(0, open);
  std::wstring_view instance = objectPart.substr(open + 1, objectPart.size() - open - 2);
  if (instance.empty() || instance.find(L'\\') != std::wstring_view::npos) return std::nullopt;
  result.hasInstance = true;
  if (size_t slash = instance.find(L'/'); slash != std::wstring_view::npos) {
    result.parent = instance.substr(0, slash);
    instance.remove_prefix(slash + 1);
    if (result.parent.empty() || instance.empty()) return std::nullopt;
  }
  if (size_t hash = instance.rfind(L'#'); hash != std::wstring_view::npos) {
    std::string digits;
    for (wchar_t c : instance.substr(hash + 1)) {
      if (c < L'0' || c > L'9') return std::nullopt;
      digits += static_cast<char>(c);
    }
    auto index = procfs::parseNumber<uint32_t>(digits);
    if (!index || hash == 0) return std::nullopt;
    result.index = *index;
    instance = instance.substr(0, hash);
  }
  result.instance = instance;
  return result;
}

}  // namespace winapi_linux::perf
