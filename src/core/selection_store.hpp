#pragma once

#include <cstdint>
#include <vector>

#include "core/large_memory.hpp"

namespace pedsim {

// Buffers of one shuffle, kept so that repeated shuffles reuse their memory.
struct ShuffleScratch {
  struct Row {
    std::uint32_t key;
    std::uint32_t origin;    // position in the list as passed in
    std::uint32_t position;  // current position during the selection
  };
  std::vector<std::uint32_t, LargeAllocator<std::uint32_t>> keys;
  std::vector<std::uint32_t> bucket_start;
  std::vector<std::uint64_t> sorted;
  std::vector<std::uint64_t> spare;
  std::vector<Row> rows;
  std::vector<std::uint32_t> occupant;
  std::vector<std::uint32_t> group;
};

// Working storage of parent selection, kept by the run between calls. The
// candidate lists hold every male and every female animal in row order; a
// call only appends the rows created since the previous call, since rows,
// once created, never change sex.
struct SelectionStore {
  std::vector<std::int32_t, LargeAllocator<std::int32_t>> males;
  std::vector<std::int32_t, LargeAllocator<std::int32_t>> females;
  std::int32_t rows_listed = 0;
  // The male shuffle's buffers, and the female one's when both run at once.
  ShuffleScratch shuffle;
  ShuffleScratch female_shuffle;
};

}  // namespace pedsim
