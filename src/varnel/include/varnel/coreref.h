// CORE::coreref / corerefex: intrusive reference counting; creation holds the first reference.
#pragma once
#include <atomic>

namespace CORE {

class VARNEL_API coreref {
 public:
  coreref() = default;
  coreref(const coreref&) = delete;
  coreref& operator=(const coreref&) = delete;
  virtual ~coreref();
  virtual long AddRef();
  virtual long Release();  // the last Release deletes the object
  virtual long RefCount() const;

 private:
  std::atomic<long> refs_{1};
};

template <class T>
class corerefex : public coreref {
 public:
  T* self() { return static_cast<T*>(this); }
};

}  // namespace CORE
