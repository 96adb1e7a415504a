// The Reg* calls over the file-backed registry: key handles, value queries with the Win32 size
// protocol, writes, deletion, enumeration and change notification.
#include <atomic>
#include <cstring>

#include "advapi32/perflib_registry.h"
#include "advapi32/registry_data.h"
#include "advapi32/registry_notify.h"
#include "advapi32/registry_store.h"
#include "common/config.h"
#include "common/wide_text.h"
#include "kernelbase/event_object.h"

namespace winapi_linux {
namespace {

// An open key: the directory it named when opened. Its serial ties notifications to it.
struct KeyObject final : KernelObject {
  KeyObject(std::string dir, uint64_t serial, bool perflibEnglish)
      : dir(std::move(dir)), serial(serial), perflibEnglish(perflibEnglish) {}
  ~KeyObject() override { registry_notify::drop(serial); }
  const std::string dir;
  const uint64_t serial;
  const bool perflibEnglish;  // HKLM\...\Perflib\009: serves the built-in "Counter" list
};

uint64_t nextSerial() {
  static std::atomic<uint64_t> serial{0};
  return ++serial;
}

// Predefined keys are directories under the registry root named by their usual abbreviation.
const char* predefinedName(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return "HKLM";
  if (key == HKEY_CURRENT_USER) return "HKCU";
  if (key == HKEY_CLASSES_ROOT) return "HKCR";
  if (key == HKEY_USERS) return "HKU";
  return nullptr;
}

struct KeyRef {
  std::string dir;
  uint64_t serial = 0;  // 0 for a predefined key
  bool perflibEnglish = false;
};

LONG resolveKey(HKEY key, KeyRef& out) {
  if (const char* name = predefinedName(key)) {
    out.dir = registryRoot() + "/" + name;
    out.serial = 0;
    return ERROR_SUCCESS;
  }
  auto object = lookupHandleAs<KeyObject>(reinterpret_cast<HANDLE>(key));
  if (!object) return ERROR_INVALID_HANDLE;
  out.dir = object->dir;
  out.serial = object->serial;
  out.perflibEnglish = object->perflibEnglish;
  return ERROR_SUCCESS;
}

LONG openHandle(std::string dir, bool perflibEnglish, PHKEY result) {
  HANDLE handle = insertHandle(std::make_shared<KeyObject>(std::move(dir), nextSerial(), perflibEnglish));
  if (!handle) return ERROR_NOT_ENOUGH_MEMORY;
  *result = reinterpret_cast<HKEY>(handle);
  return ERROR_SUCCESS;
}

// The size protocol of RegQueryValueExW: no buffer asks for the size; a short one gets
// ERROR_MORE_DATA and the size needed.
LONG copyData(const std::vector<BYTE>& bytes, LPBYTE data, LPDWORD size) {
  if (!size) return ERROR_SUCCESS;
  const auto needed = static_cast<DWORD>(bytes.size());
  if (data && *size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (data) std::memcpy(data, bytes.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

constexpr DWORD kNotifyFilters =
    REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;

}  // namespace
}  // namespace winapi_linux

using namespace winapi_linux;

WINAPI_LAYER LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result) {
  (void)options;
  (void)sam;  // file permissions decide access
  if (!result) return ERROR_INVALID_PARAMETER;
  KeyRef base;
  if (LONG rc = resolveKey(key, base)) return rc;
  std::string dir;
  const bool perflibEnglish = key == HKEY_LOCAL_MACHINE && perflib::isEnglishKey(wide_text::view(subKey));
  LONG rc = registry_store::openKey(base.dir, wide_text::view(subKey), false, dir, nullptr);
  // The English counter-name list exists on every machine, so its key does too.
  if (rc == ERROR_FILE_NOT_FOUND && perflibEnglish) {
    dir = base.dir + "/" + perflib::englishKeyDirectory();
    rc = ERROR_SUCCESS;
  }
  if (rc) return rc;
  return openHandle(std::move(dir), perflibEnglish, result);
}

WINAPI_LAYER LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options,
                                     REGSAM sam, LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition) {
  (void)reserved;
  (void)cls;
  (void)options;
  (void)sam;
  (void)sa;
  if (!subKey || !result) return ERROR_INVALID_PARAMETER;
  KeyRef base;
  if (LONG rc = resolveKey(key, base)) return rc;
  std::string dir;
  bool created = false;
  if (LONG rc = registry_store::openKey(base.dir, subKey, true, dir, &created)) return rc;
  const bool perflibEnglish = key == HKEY_LOCAL_MACHINE && perflib::isEnglishKey(subKey);
  if (LONG rc = openHandle(std::move(dir), perflibEnglish, result)) return rc;
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

WINAPI_LAYER LSTATUS RegCloseKey(HKEY key) {
  if (predefinedName(key)) return ERROR_SUCCESS;
  auto handle = reinterpret_cast<HANDLE>(key);
  auto object = lookupHandleAs<KeyObject>(handle);
  if (!object) return ERROR_INVALID_HANDLE;
  // Now rather than when the last reference goes: a change after this call never signals.
  registry_notify::drop(object->serial);
  return removeHandle(handle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

WINAPI_LAYER LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                      LPDWORD size) {
  (void)reserved;
  if (data && !size) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  if (LONG rc = resolveKey(key, ref)) return rc;
  registry_format::Value value;
  LONG rc = registry_store::readValue(ref.dir, wide_text::view(name), value);
  if (ref.perflibEnglish && (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_KEY_DELETED))
    rc = perflib::builtinValue(wide_text::view(name), value) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  if (rc) return rc;
  if (type) *type = value.type;
  return copyData(registry_data::toBytes(value), data, size);
}

WINAPI_LAYER LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                    DWORD size) {
  (void)reserved;
  auto value = registry_data::fromBytes(type, data, size);
  if (!value) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  if (LONG rc = resolveKey(key, ref)) return rc;
  return registry_store::writeValue(ref.dir, wide_text::view(name), *value);
}

WINAPI_LAYER LSTATUS RegDeleteValueW(HKEY key, LPCWSTR name) {
  KeyRef ref;
  if (LONG rc = resolveKey(key, ref)) return rc;
  return registry_store::deleteValue(ref.dir, wide_text::view(name));
}

WINAPI_LAYER LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                                   LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  (void)reserved;
  if (!name || !nameLength || (data && !dataSize)) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  if (LONG rc = resolveKey(key, ref)) return rc;
  std::vector<std::wstring> names;
  if (LONG rc = registry_store::listValues(ref.dir, names)) return rc;
  if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
  const std::wstring& found = names[index];
  // *nameLength counts characters: the buffer's on entry (with the NUL), the name's on return.
  if (*nameLength <= found.size()) return ERROR_MORE_DATA;
  std::wmemcpy(name, found.c_str(), found.size() + 1);
  *nameLength = static_cast<DWORD>(found.size());
  if (!type && !data && !dataSize) return ERROR_SUCCESS;
  registry_format::Value value;
  if (LONG rc = registry_store::readValue(ref.dir, found, value)) return rc;
  if (type) *type = value.type;
  return copyData(registry_data::toBytes(value), data, dataSize);
}

WINAPI_LAYER LSTATUS RegNotifyChangeKeyValue(HKEY key, BOOL watchSubtree, DWORD filter, HANDLE event,
                                             BOOL asynchronous) {
  if (!asynchronous || (filter & kNotifyFilters) == 0 || (filter & ~(kNotifyFilters | REG_NOTIFY_THREAD_AGNOSTIC)))
    return ERROR_INVALID_PARAMETER;
  auto eventObject = lookupHandleAs<EventObject>(event);
  if (!eventObject) return ERROR_INVALID_HANDLE;
  KeyRef ref;
  if (LONG rc = resolveKey(key, ref)) return rc;
  return registry_notify::watch(ref.serial, ref.dir, watchSubtree != FALSE, filter, std::move(eventObject));
}
