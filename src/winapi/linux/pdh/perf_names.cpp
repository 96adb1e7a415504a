// Name lookups over a language list and the English catalog.
#include "pdh/perf_names.h"

#include <mutex>

#include "advapi32/perflib_registry.h"
#include "advapi32/registry_names.h"
#include "common/no_destructor.h"
#include "procfs/procfs_text.h"

namespace winapi_linux::perf {

NameTable::NameTable(const std::vector<std::wstring>& items) {
  for (size_t i = 0; i + 1 < items.size(); i += 2) {
    std::string digits;
    bool numeric = !items[i].empty();
    for (wchar_t c : items[i]) {
      if (c < L'0' || c > L'9') numeric = false;
      digits += static_cast<char>(c);
    }
    auto index = numeric ? procfs::parseNumber<uint32_t>(digits) : std::nullopt;
    if (index) names_[*index] = items[i + 1];
  }
}

const std::wstring* NameTable::name(uint32_t index) const {
  auto it = names_.find(index);
  return it == names_.end() ? nullptr : &it->second;
}

std::wstring NameTable::displayName(uint32_t index) const {
  if (const std::wstring* local = name(index)) return *local;
  const wchar_t* english = englishName(index);
  return english ? english : L"";
}

bool NameTable::sameIndex(uint32_t index, const wchar_t* english, std::wstring_view name) const {
  if (registry_names::sameName(english, name)) return true;
  const std::wstring* local = this->name(index);
  return local && registry_names::sameName(*local, name);
}

const ObjectDef* NameTable::findObject(std::wstring_view name) const {
  for (const ObjectDef& o : objects())
    if (sameIndex(o.index, o.name, name)) return &o;
  return nullptr;
}

const CounterDef* NameTable::findCounter(const ObjectDef& object, std::wstring_view name) const {
  for (const CounterDef& c : object.counters)
    if (sameIndex(c.index, c.name, name)) return &c;
  return nullptr;
}

std::shared_ptr<const NameTable> localNames() {
  // Lock order: `mutex` is a leaf (localList takes its own lock before this one is taken).
  static std::mutex mutex;
  static NoDestructor<std::shared_ptr<const std::vector<std::wstring>>> list;
  static NoDestructor<std::shared_ptr<const NameTable>> table;
  std::shared_ptr<const std::vector<std::wstring>> current = perflib::localList();
  std::lock_guard lock(mutex);
  if (current != list.get() || !table.get()) {
    table.get() = std::make_shared<const NameTable>(*current);
    list.get() = std::move(current);
  }
  return table.get();
}

}  // namespace winapi_linux::perf
