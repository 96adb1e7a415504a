// RefPtr: holds one reference on a reference-counted framework object and releases it.
#pragma once
#include <utility>

template <class T>
class RefPtr {
 public:
  RefPtr() = default;
  // Takes over a reference the caller already holds (creation's, or one AddRef'd for us).
  explicit RefPtr(T* adopted) : p_(adopted) {}
  RefPtr(const RefPtr&) = delete;
  RefPtr& operator=(const RefPtr&) = delete;
  RefPtr(RefPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  RefPtr& operator=(RefPtr&& other) noexcept {
    if (this != &other) reset(std::exchange(other.p_, nullptr));
    return *this;
  }
  ~RefPtr() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Gives the reference up to the caller.
  T* release() { return std::exchange(p_, nullptr); }
  // Releases the reference held so far and adopts `adopted`.
  void reset(T* adopted = nullptr) {
    T* old = std::exchange(p_, adopted);
    if (old != nullptr) old->Release();
  }

 private:
  T* p_ = nullptr;
};
