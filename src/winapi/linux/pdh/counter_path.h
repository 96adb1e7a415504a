// Pure parser of PDH counter paths: "\\Machine\Object(Parent/Instance#Index)\Counter", where
// the machine, the parent, the index and the whole instance part are optional.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/layer_visible.h"

namespace winapi_linux::perf {

struct CounterPath {
  std::wstring machine;  // without the leading "\\"; empty for the local computer
  std::wstring object;
  bool hasInstance = false;
  std::wstring parent;    // before a "/" in the instance part
  std::wstring instance;  // without parent and index
  uint32_t index = 0;     // "#n": the n-th instance of that name, 0 without one
  std::wstring counter;
  // A "*" in the object, instance or counter name: a wildcard path.
  bool wildcard() const {
    for (const std::wstring* part : {&object, &parent, &instance, &counter})
      if (part->find(L'*') != std::wstring::npos) return true;
    return false;
  }
};

// The longest path PDH accepts, in characters.
constexpr size_t kMaxCounterPath = 2048;

// nullopt for a path that is not of that form (empty names, unbalanced parentheses, too long).
LAYER_VISIBLE std::optional<CounterPath> parseCounterPath(std::wstring_view path);

}  // namespace winapi_linux::perf
