// Counts the program's heap allocations by replacing the global operator new and delete.
// Replacements may be defined only once per program: include this in exactly one source file.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace allocation_counter {
inline std::atomic<size_t> allocations{0};
}  // namespace allocation_counter

// Heap allocations made through operator new so far.
inline size_t allocationCount() { return allocation_counter::allocations.load(); }

// The replacements stay out of line: inlined, malloc() and free() would look mismatched with
// new and delete to the compiler's allocation checks.
[[gnu::noinline]] void* operator new(size_t size) {
  allocation_counter::allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept { std::free(p); }
