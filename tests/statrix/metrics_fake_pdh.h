// A scripted PDH and session list for the metric engine's tests, installed as its platform table.
#pragma once
#include <cstdint>
#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "metrics/pdh_functions.h"

namespace metrics_test {

// One fake per test, made current by its constructor. Counter paths the fake knows can be added;
// each read gives the path's current value or status.
struct FakePdh {
  struct Reading {
    double value = 0.0;
    uint32_t status = 0;        // the call's status
    DWORD cstatus = 0;          // the value's own status
  };
  struct Object {
    std::vector<std::wstring> counters;
    std::vector<std::wstring> instances;
  };

  std::map<std::wstring, Reading> paths;         // addable paths and what reading them gives
  std::map<std::wstring, Object> objects;        // for PdhEnumObjectItemsW
  std::map<DWORD, std::wstring> localNames;      // PdhLookupPerfNameByIndexW
  std::vector<WTS_CONNECTSTATE_CLASS> sessions;  // WTSEnumerateSessionsW
  bool sessionsFail = false;
  uint32_t openStatus = 0;  // statuses as their 32 bits
  uint32_t collectStatus = 0;
  uint32_t removeStatus = 0;
  uint32_t lookupSizeStatus = PDH_MORE_DATA;  // the sizing call's status
  int64_t lookupSizeDelta = 0;                 // added to the size the sizing call reports
  uint32_t enumSecondStatus = 0;
  DWORD enumSizeOverride = 0;                   // if set, reported for both lists

  // What happened.
  int opens = 0, closes = 0, collects = 0, enumerations = 0, lookups = 0, sessionQueries = 0, frees = 0;
  std::vector<std::wstring> added;    // every path added, in order
  std::vector<std::wstring> removed;  // every path removed
  std::set<uintptr_t> openQueries;

  FakePdh() { current() = this; }
  ~FakePdh() { current() = nullptr; }
  FakePdh(const FakePdh&) = delete;
  FakePdh& operator=(const FakePdh&) = delete;

  const PdhFunctions& functions() const {
    static const PdhFunctions table{&open, &close, &add, &remove, &collect, &read, &lookup, &enumerate,
                                    &enumerateSessions, &freeMemory};
    return table;
  }

  static FakePdh*& current() {
    static FakePdh* fake = nullptr;
    return fake;
  }

 private:
  template <class Code>
  static PDH_STATUS status(Code code) {
    return static_cast<PDH_STATUS>(static_cast<uint32_t>(code));
  }
  std::map<uintptr_t, std::wstring> counters_;  // handle -> path
  uintptr_t next_ = 1;

  static PDH_STATUS WINAPI open(LPCWSTR, DWORD_PTR, PDH_HQUERY* query) {
    FakePdh& f = *current();
    ++f.opens;
    if (f.openStatus != 0) return status(f.openStatus);
    const uintptr_t id = 0x10000 + f.next_++;
    f.openQueries.insert(id);
    *query = reinterpret_cast<PDH_HQUERY>(id);
    return 0;
  }
  static PDH_STATUS WINAPI close(PDH_HQUERY query) {
    FakePdh& f = *current();
    ++f.closes;
    f.openQueries.erase(reinterpret_cast<uintptr_t>(query));
    return 0;
  }
  static PDH_STATUS WINAPI add(PDH_HQUERY, LPCWSTR path, DWORD_PTR, PDH_HCOUNTER* counter) {
    FakePdh& f = *current();
    if (f.paths.count(path) == 0) return status(PDH_CSTATUS_NO_COUNTER);
    const uintptr_t id = f.next_++;
    f.counters_[id] = path;
    f.added.push_back(path);
    *counter = reinterpret_cast<PDH_HCOUNTER>(id);
    return 0;
  }
  static PDH_STATUS WINAPI remove(PDH_HCOUNTER counter) {
    FakePdh& f = *current();
    if (f.removeStatus != 0) return status(f.removeStatus);
    const auto it = f.counters_.find(reinterpret_cast<uintptr_t>(counter));
    if (it == f.counters_.end()) return status(PDH_INVALID_HANDLE);
    f.removed.push_back(it->second);
    f.counters_.erase(it);
    return 0;
  }
  static PDH_STATUS WINAPI collect(PDH_HQUERY) {
    FakePdh& f = *current();
    ++f.collects;
    return status(f.collectStatus);
  }
  static PDH_STATUS WINAPI read(PDH_HCOUNTER counter, DWORD, LPDWORD, PPDH_FMT_COUNTERVALUE value) {
    FakePdh& f = *current();
    const auto it = f.counters_.find(reinterpret_cast<uintptr_t>(counter));
    if (it == f.counters_.end()) return status(PDH_INVALID_HANDLE);
    const Reading& r = f.paths[it->second];
    value->CStatus = r.cstatus;
    value->doubleValue = r.value;
    return status(r.status);
  }
  static PDH_STATUS WINAPI lookup(LPCWSTR, DWORD index, LPWSTR buffer, LPDWORD size) {
    FakePdh& f = *current();
    ++f.lookups;
    const auto it = f.localNames.find(index);
    if (it == f.localNames.end()) return status(PDH_INVALID_ARGUMENT);
    const std::wstring& name = it->second;
    if (buffer == nullptr) {
      if (f.lookupSizeStatus != static_cast<uint32_t>(PDH_MORE_DATA)) return status(f.lookupSizeStatus);
      *size = static_cast<DWORD>(static_cast<int64_t>(name.size() + 1) + f.lookupSizeDelta);
      return status(PDH_MORE_DATA);
    }
    // Fills what the caller said it has; the terminator only when there is room for it.
    const size_t n = std::min<size_t>(*size, name.size());
    std::wmemcpy(buffer, name.data(), n);
    if (n < *size) buffer[n] = L'\0';
    return 0;
  }
  static std::wstring multi(const std::vector<std::wstring>& names) {
    std::wstring text;
    for (const auto& n : names) text += n + L'\0';
    return text + L'\0';
  }
  static PDH_STATUS WINAPI enumerate(LPCWSTR, LPCWSTR, LPCWSTR object, LPWSTR counters, LPDWORD counterLength,
                                     LPWSTR instances, LPDWORD instanceLength, DWORD, DWORD) {
    FakePdh& f = *current();
    ++f.enumerations;
    const auto it = f.objects.find(object);
    if (it == f.objects.end()) return status(PDH_CSTATUS_NO_OBJECT);
    const std::wstring c = multi(it->second.counters);
    const std::wstring i = it->second.instances.empty() ? std::wstring() : multi(it->second.instances);
    if (counters == nullptr && instances == nullptr) {
      *counterLength = f.enumSizeOverride ? f.enumSizeOverride : static_cast<DWORD>(c.size());
      *instanceLength = f.enumSizeOverride ? f.enumSizeOverride : static_cast<DWORD>(i.size());
      return status(PDH_MORE_DATA);
    }
    if (f.enumSecondStatus != 0) return status(f.enumSecondStatus);
    // Writes what fits, unterminated if need be.
    std::wmemcpy(counters, c.data(), std::min<size_t>(c.size(), *counterLength));
    if (instances != nullptr) std::wmemcpy(instances, i.data(), std::min<size_t>(i.size(), *instanceLength));
    return 0;
  }
  static BOOL WINAPI enumerateSessions(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW* list, DWORD* count) {
    FakePdh& f = *current();
    ++f.sessionQueries;
    if (f.sessionsFail) {
      SetLastError(5);
      return FALSE;
    }
    auto* out = new WTS_SESSION_INFOW[f.sessions.size() + 1]{};
    for (size_t i = 0; i < f.sessions.size(); ++i) {
      out[i].SessionId = static_cast<DWORD>(i + 1);
      out[i].State = f.sessions[i];
    }
    *list = out;
    *count = static_cast<DWORD>(f.sessions.size());
    return TRUE;
  }
  static void WINAPI freeMemory(PVOID memory) {
    ++current()->frees;
    delete[] static_cast<WTS_SESSION_INFOW*>(memory);
  }
};

}  // namespace metrics_test
