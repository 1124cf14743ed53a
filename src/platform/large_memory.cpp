#include "platform/large_memory.hpp"

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <system_error>

namespace pedsim {

namespace {

constexpr std::size_t kHugePage = std::size_t{1} << 21;
constexpr std::uintptr_t kSmallPage = 4096;

// Below this size ordinary allocation serves; the sanitizer build always uses
// it, so that its bounds checks cover every array. From it on, blocks are
// mapped in whole huge pages: a first touch costs one fault per huge page
// instead of one per small page, which pays once half a huge page is used.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kMapThreshold = ~std::size_t{0};
#else
constexpr std::size_t kMapThreshold = kHugePage / 2;
#endif

// The mapped size of a block of `bytes`: whole huge pages.
std::size_t mapped_size(std::size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }
// The slice of each block populated in turn.
constexpr std::size_t kPopulateSlice = kHugePage;

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

}  // namespace

void* allocate_zeroed(std::size_t bytes) {
  if (bytes < kMapThreshold) return std::calloc(bytes == 0 ? 1 : bytes, 1);
  // Map one huge page more than needed and trim both ends, so that the block
  // starts on a huge-page boundary and all of it can use huge pages.
  const std::size_t size = mapped_size(bytes);
  const std::size_t span = size + kHugePage;
  void* mapped = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto address = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (address + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
  if (aligned > address) ::munmap(mapped, aligned - address);
  const std::uintptr_t tail = aligned + size;
  if (address + span > tail) ::munmap(reinterpret_cast<void*>(tail), address + span - tail);
  void* block = reinterpret_cast<void*>(aligned);
  ::madvise(block, size, MADV_HUGEPAGE);
  return block;
}

std::uint64_t memory_limit() noexcept {
  std::uint64_t limit = UINT64_MAX;
  struct sysinfo machine {};
  if (::sysinfo(&machine) == 0) {
    limit = (std::uint64_t{machine.totalram} + machine.totalswap) * machine.mem_unit;
  }
  struct rlimit space {};
  if (::getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY) {
    limit = std::min<std::uint64_t>(limit, space.rlim_cur);
  }
  return limit;
}

void release_zeroed(void* block, std::size_t bytes) noexcept {
  if (block == nullptr) return;
  if (bytes < kMapThreshold) {
    std::free(block);
  } else {
    ::munmap(block, mapped_size(bytes));
  }
}

void BackgroundPopulator::start(std::vector<Block> blocks) {
  stop();
  stopping_ = false;
  // Populating only saves time: without a thread, pages are mapped as the
  // run first touches them.
  try {
    thread_ = std::thread(&BackgroundPopulator::populate, this, std::move(blocks));
  } catch (const std::system_error&) {
  }
}

void BackgroundPopulator::populate(const std::vector<Block>& blocks) {
  for (std::size_t offset = 0; !stopping_; offset += kPopulateSlice) {
    bool any_left = false;
    for (const auto& block : blocks) {
      if (offset >= block.bytes || stopping_) continue;
      any_left = true;
      // From the start of the page holding the slice: a small block need not
      // start on a page boundary, and its page's first bytes belong to the
      // same mapping.
      const auto slice = reinterpret_cast<std::uintptr_t>(block.start) + offset;
      const std::uintptr_t page = slice & ~(kSmallPage - 1);
      const std::size_t size = std::min(kPopulateSlice, block.bytes - offset) + (slice - page);
      if (::madvise(reinterpret_cast<void*>(page), size, MADV_POPULATE_WRITE) != 0) return;
    }
    if (!any_left) return;
  }
}

void BackgroundPopulator::stop() noexcept {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
}

void prefer_huge_pages(void* start, std::size_t bytes) noexcept {
  const std::uintptr_t huge = kHugePage;
  const auto first = (reinterpret_cast<std::uintptr_t>(start) + huge - 1) & ~(huge - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(start) + bytes) & ~(huge - 1);
  if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

}  // namespace pedsim
