// The platform calls of the counter engine (PDH, session enumeration), as a table tests can replace.
#pragma once
#include "frame/host/host.h"

// The engine calls the platform only through one of these. systemPdhFunctions() is the real
// table; tests hand the engine a table of fakes instead.
struct PdhFunctions {
  decltype(&::PdhOpenQueryW) openQuery;
  decltype(&::PdhCloseQuery) closeQuery;
  decltype(&::PdhAddCounterW) addCounter;
  decltype(&::PdhRemoveCounter) removeCounter;
  decltype(&::PdhCollectQueryData) collectQueryData;
  decltype(&::PdhGetFormattedCounterValue) getFormattedCounterValue;
  decltype(&::PdhLookupPerfNameByIndexW) lookupPerfNameByIndex;
  decltype(&::PdhEnumObjectItemsW) enumObjectItems;
  decltype(&::WTSEnumerateSessionsW) enumerateSessions;
  decltype(&::WTSFreeMemory) freeMemory;
};

const PdhFunctions& systemPdhFunctions();

// PDH's status constants are signed in some headers and unsigned in others: compare 32 bits.
template <class Code>
constexpr bool isStatus(PDH_STATUS status, Code code) {
  return static_cast<uint32_t>(status) == static_cast<uint32_t>(code);
}

// Owns an open PDH query: closed (with every counter in it) when the owner goes.
class PdhQueryHandle {
 public:
  explicit PdhQueryHandle(const PdhFunctions& pdh) : pdh_(&pdh) {}
  PdhQueryHandle(const PdhQueryHandle&) = delete;
  PdhQueryHandle& operator=(const PdhQueryHandle&) = delete;
  ~PdhQueryHandle() { close(); }

  PDH_HQUERY get() const { return handle_; }
  bool isOpen() const { return handle_ != nullptr; }
  // Opens the query on the local computer (no data source, user data 0). A failed open leaves
  // no handle, whatever the call wrote.
  PDH_STATUS open() {
    PDH_HQUERY handle = nullptr;
    const PDH_STATUS status = pdh_->openQuery(nullptr, 0, &handle);
    if (status == 0) handle_ = handle;
    return status;
  }
  void close() {
    if (handle_ != nullptr) pdh_->closeQuery(handle_);
    handle_ = nullptr;
  }

 private:
  const PdhFunctions* pdh_;
  PDH_HQUERY handle_ = nullptr;
};
