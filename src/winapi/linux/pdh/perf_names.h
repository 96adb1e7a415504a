// Names of performance objects and counters in one language list, and the lookups of counter
// paths: a name is taken in English or in that language, compared without regard to case.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "advapi32/perf_catalog.h"

namespace winapi_linux::perf {

class NameTable {
 public:
  // `items`: index text and name alternately; an odd last item is ignored, an index that is no
  // number skips its pair, and a later pair of the same index wins.
  LAYER_VISIBLE explicit NameTable(const std::vector<std::wstring>& items);

  // The name of an index in this list, or null.
  LAYER_VISIBLE const std::wstring* name(uint32_t index) const;
  // The name of an index in this list, else its English name.
  LAYER_VISIBLE std::wstring displayName(uint32_t index) const;

  LAYER_VISIBLE const ObjectDef* findObject(std::wstring_view name) const;
  LAYER_VISIBLE const CounterDef* findCounter(const ObjectDef& object, std::wstring_view name) const;

 private:
  bool sameIndex(uint32_t index, const wchar_t* english, std::wstring_view name) const;
  std::map<uint32_t, std::wstring> names_;
};

// The table of the registry's current list (perflib::localList), built again only when that
// list changed.
std::shared_ptr<const NameTable> localNames();

}  // namespace winapi_linux::perf
