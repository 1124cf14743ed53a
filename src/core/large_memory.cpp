#include "core/large_memory.hpp"

#include <sys/mman.h>

#include <cstdlib>

namespace pedsim {

namespace {

// Below this size ordinary allocation serves; the sanitizer build always uses
// it, so that its bounds checks cover every array.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kMapThreshold = ~std::size_t{0};
#else
constexpr std::size_t kMapThreshold = std::size_t{1} << 21;
#endif

}  // namespace

void* allocate_zeroed(std::size_t bytes) {
  if (bytes < kMapThreshold) return std::calloc(bytes == 0 ? 1 : bytes, 1);
  void* block = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  ::madvise(block, bytes, MADV_HUGEPAGE);
  return block;
}

void release_zeroed(void* block, std::size_t bytes) noexcept {
  if (block == nullptr) return;
  if (bytes < kMapThreshold) {
    std::free(block);
  } else {
    ::munmap(block, bytes);
  }
}

}  // namespace pedsim
