// Intrusive reference counting of framework objects.
#include "varnel/coreref.h"

namespace CORE {

coreref::~coreref() = default;

long coreref::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

long coreref::Release() {
  long left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

long coreref::RefCount() const { return refs_.load(std::memory_order_acquire); }

}  // namespace CORE
