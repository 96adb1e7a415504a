// PdhLookupPerfNameByIndexW and PdhEnumObjectItemsW: names in the system's language and the
// current counter and instance lists of an object, with PDH's size protocol (in characters).
#include <cstring>

#include "advapi32/registry_names.h"
#include "common/wide_text.h"
#include "pdh/pdh_support.h"
#include "pdh/perf_names.h"
#include "pdh/perf_sources.h"
#include "pdh/perf_values.h"

namespace winapi_linux::pdh {

namespace {

// A list of names as one block: each name with its NUL, then one more NUL; an empty list is
// the two NULs of an empty multi-string.
std::wstring multiString(const std::vector<std::wstring>& names) {
  std::wstring block;
  for (const auto& n : names) block.append(n).push_back(L'\0');
  block.push_back(L'\0');
  if (block.size() == 1) block.push_back(L'\0');
  return block;
}

PDH_STATUS lookupName(LPCWSTR machine, DWORD index, LPWSTR buffer, LPDWORD size) {
  if (!size) return PDH_INVALID_ARGUMENT;
  if (!isLocalMachine(wide_text::view(machine))) return PDH_CSTATUS_NO_MACHINE;
  const std::shared_ptr<const perf::NameTable> table = perf::localNames();
  const perf::NameTable& names = *table;
  const std::wstring* name = names.name(index);
  std::wstring english;
  if (!name) {
    const wchar_t* e = perf::englishName(index);
    if (!e) return PDH_INVALID_ARGUMENT;
    english = e;
    name = &english;
  }
  const DWORD needed = static_cast<DWORD>(name->size() + 1);
  if (!buffer || *size < needed) {
    *size = needed;
    return PDH_MORE_DATA;
  }
  std::wmemcpy(buffer, name->c_str(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

// The sources that tell an object's instances.
uint32_t instanceSources(perf::ObjectId object) {
  switch (object) {
    case perf::ObjectId::Processor: return perf::kStat;
    case perf::ObjectId::PhysicalDisk: return perf::kDiskstats;
    case perf::ObjectId::NetworkInterface: return perf::kNetDev;
    default: return 0;
  }
}

PDH_STATUS enumItems(LPCWSTR dataSource, LPCWSTR machine, LPCWSTR objectName, LPWSTR counterList,
                     LPDWORD counterLength, LPWSTR instanceList, LPDWORD instanceLength) {
  if (!objectName || !counterLength || !instanceLength || (dataSource && *dataSource)) return PDH_INVALID_ARGUMENT;
  if (!isLocalMachine(wide_text::view(machine))) return PDH_CSTATUS_NO_MACHINE;
  const std::shared_ptr<const perf::NameTable> table = perf::localNames();
  const perf::NameTable& names = *table;
  const perf::ObjectDef* object = names.findObject(objectName);
  if (!object) return PDH_CSTATUS_NO_OBJECT;

  std::vector<std::wstring> counterNames;
  for (const perf::CounterDef& c : object->counters) counterNames.push_back(names.displayName(c.index));
  const std::wstring counters = multiString(counterNames);
  // An object without instances has no instance list at all (size 0); one whose instances are
  // all gone has an empty one (size 2).
  std::wstring instanceBlock;
  if (object->hasInstances)
    instanceBlock = multiString(perf::instanceNames(object->id, perf::readSnapshot(instanceSources(object->id))));

  const auto counterNeeded = static_cast<DWORD>(counters.size());
  const auto instanceNeeded = static_cast<DWORD>(instanceBlock.size());
  const bool counterFits = counterList && *counterLength >= counterNeeded;
  const bool instanceFits = instanceNeeded == 0 || (instanceList && *instanceLength >= instanceNeeded);
  *counterLength = counterNeeded;
  *instanceLength = instanceNeeded;
  if (!counterFits || !instanceFits) return PDH_MORE_DATA;
  std::wmemcpy(counterList, counters.data(), counters.size());
  if (instanceNeeded) std::wmemcpy(instanceList, instanceBlock.data(), instanceBlock.size());
  return ERROR_SUCCESS;
}

}  // namespace

}  // namespace winapi_linux::pdh

using namespace winapi_linux::pdh;

WINAPI_LAYER PDH_STATUS PdhLookupPerfNameByIndexW(LPCWSTR machineName, DWORD nameIndex, LPWSTR nameBuffer,
                                                  LPDWORD nameBufferSize) {
  return guarded([&] { return lookupName(machineName, nameIndex, nameBuffer, nameBufferSize); });
}

WINAPI_LAYER PDH_STATUS PdhEnumObjectItemsW(LPCWSTR dataSource, LPCWSTR machineName, LPCWSTR objectName,
                                            LPWSTR counterList, LPDWORD counterListLength, LPWSTR instanceList,
                                            LPDWORD instanceListLength, DWORD detailLevel, DWORD flags) {
  (void)detailLevel;  // every counter of the catalog is shown at every level
  (void)flags;
  return guarded([&] {
    return enumItems(dataSource, machineName, objectName, counterList, counterListLength, instanceList,
                     instanceListLength);
  });
}
