// Counter-name lists of the registry root, with the catalog's English list as fallback.
#include "advapi32/perflib_registry.h"

#include "advapi32/perf_catalog.h"
#include "advapi32/registry_names.h"
#include "advapi32/registry_store.h"
#include "common/config.h"

namespace winapi_linux::perflib {

namespace {

constexpr std::wstring_view kPerflib[] = {L"Software", L"Microsoft", L"Windows NT", L"CurrentVersion", L"Perflib"};

// The REG_MULTI_SZ value "Counter" of Perflib\<language> in the registry root, if any.
std::optional<std::vector<std::wstring>> registryList(std::wstring_view language) {
  std::wstring subKey;
  for (std::wstring_view part : kPerflib) subKey.append(part).append(L"\\");
  subKey.append(language);
  std::string dir;
  if (registry_store::openKey(registryRoot() + "/HKLM", subKey, false, dir, nullptr) != ERROR_SUCCESS)
    return std::nullopt;
  registry_format::Value value;
  if (registry_store::readValue(dir, L"Counter", value) != ERROR_SUCCESS || value.type != REG_MULTI_SZ)
    return std::nullopt;
  return std::move(value.items);
}

}  // namespace

bool isEnglishKey(std::wstring_view subKey) {
  size_t part = 0;
  while (!subKey.empty()) {
    size_t end = subKey.find(L'\\');
    std::wstring_view name = subKey.substr(0, end);
    subKey.remove_prefix(end == std::wstring_view::npos ? subKey.size() : end + 1);
    if (name.empty()) continue;
    std::wstring_view expected = part < std::size(kPerflib) ? kPerflib[part] : part == std::size(kPerflib) ? L"009" : L"";
    if (expected.empty() || !registry_names::sameName(name, expected)) return false;
    ++part;
  }
  return part == std::size(kPerflib) + 1;
}

std::string englishKeyDirectory() { return "Software/Microsoft/Windows NT/CurrentVersion/Perflib/009"; }

bool builtinValue(std::wstring_view valueName, registry_format::Value& value) {
  if (!registry_names::sameName(valueName, L"Counter")) return false;
  value = registry_format::Value{};
  value.type = REG_MULTI_SZ;
  value.items = perf::englishIndexList();
  return true;
}

std::vector<std::wstring> localList() {
  if (auto local = registryList(L"CurrentLanguage")) return std::move(*local);
  if (auto english = registryList(L"009")) return std::move(*english);
  return perf::englishIndexList();
}

}  // namespace winapi_linux::perflib
