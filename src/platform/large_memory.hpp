#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <thread>
#include <utility>
#include <vector>

namespace pedsim {

// Zero-filled memory for large arrays. Large blocks are mapped directly and
// marked for huge pages: a run touches hundreds of megabytes of fresh memory,
// and with ordinary pages the page faults alone would cost as much as the
// simulation. Returns nullptr when memory cannot be had.
void* allocate_zeroed(std::size_t bytes);
// Asks for huge pages for the whole pages of a block that was allocated
// otherwise (a large vector's), so that filling it takes a fault per 2 MiB
// rather than per 4 KiB.
void prefer_huge_pages(void* start, std::size_t bytes) noexcept;

// The bytes this process can have at most: the machine's memory and swap,
// or the address-space limit when that is lower.
std::uint64_t memory_limit() noexcept;

// Releases a block of allocate_zeroed of the same size.
void release_zeroed(void* block, std::size_t bytes) noexcept;

// Maps the pages of the given blocks into memory on a background thread, a
// slice of every block in turn from their starts, so that a run filling the
// blocks row by row finds its pages ready instead of stopping at each first
// touch. The contents are never changed, so the run may write to the blocks
// meanwhile. Does nothing where the system cannot populate pages this way.
class BackgroundPopulator {
 public:
  struct Block {
    void* start;
    std::size_t bytes;
  };
  BackgroundPopulator() = default;
  BackgroundPopulator(const BackgroundPopulator&) = delete;
  BackgroundPopulator& operator=(const BackgroundPopulator&) = delete;
  ~BackgroundPopulator() { stop(); }

  void start(std::vector<Block> blocks);
  // Stops and waits for the thread; must run before the blocks are released.
  void stop() noexcept;

 private:
  void populate(const std::vector<Block>& blocks);

  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

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

// A LargeAllocator whose vectors leave new elements unwritten when they grow,
// for buffers that are always written before they are read: growing such a
// buffer by a block costs nothing until the block is used.
template <class T>
struct ScratchAllocator : LargeAllocator<T> {
  template <class U>
  struct rebind {
    using other = ScratchAllocator<U>;
  };
  ScratchAllocator() = default;
  template <class U>
  ScratchAllocator(const ScratchAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

}  // namespace pedsim
