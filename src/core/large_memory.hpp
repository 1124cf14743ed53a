#pragma once

#include <cstddef>
#include <new>

namespace pedsim {

// Zero-filled memory for large arrays. Large blocks are mapped directly and
// marked for huge pages: a run touches hundreds of megabytes of fresh memory,
// and with ordinary pages the page faults alone would cost as much as the
// simulation. Returns nullptr when memory cannot be had.
void* allocate_zeroed(std::size_t bytes);
// Releases a block of allocate_zeroed of the same size.
void release_zeroed(void* block, std::size_t bytes) noexcept;

// An allocator over allocate_zeroed, for the large working lists.
template <class T>
struct LargeAllocator {
  using value_type = T;
  LargeAllocator() = default;
  template <class U>
  LargeAllocator(const LargeAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    void* block = allocate_zeroed(n * sizeof(T));
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* p, std::size_t n) noexcept { release_zeroed(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const LargeAllocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace pedsim
