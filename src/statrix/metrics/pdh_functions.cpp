// The real platform table: PDH and session enumeration of the system (or of the Linux layer).
#include "metrics/pdh_functions.h"

const PdhFunctions& systemPdhFunctions() {
  static const PdhFunctions functions{
      &::PdhOpenQueryW,       &::PdhCloseQuery,          &::PdhAddCounterW,
      &::PdhRemoveCounter,    &::PdhCollectQueryData,    &::PdhGetFormattedCounterValue,
      &::PdhLookupPerfNameByIndexW, &::PdhEnumObjectItemsW, &::WTSEnumerateSessionsW,
      &::WTSFreeMemory,
  };
  return functions;
}
