#pragma once

#include <cstdint>
#include <vector>

#include "core/large_memory.hpp"

namespace pedsim {

// Buffers of one shuffle, kept so that repeated shuffles reuse their memory.
struct ShuffleScratch {
  // A list entry whose key is low enough to be among the first selected.
  struct Kept {
    std::uint32_t origin;  // position in the list as passed in
    std::int32_t value;    // the list's element there
  };
  // A row of the selection: a kept entry in key order.
  struct Row {
    std::uint32_t key;
    std::uint32_t position;  // current position during the selection
    std::int32_t value;
  };
  std::vector<std::uint32_t, LargeAllocator<std::uint32_t>> keys;
  // Positions within a block of keys whose key is kept.
  std::vector<std::uint32_t, ScratchAllocator<std::uint32_t>> picked;
  // The kept entries in list order, and (key << 32 | index into kept) for
  // each, to be sorted. When every key is kept, `kept` stays empty and an
  // entry's index is its position in the list.
  std::vector<Kept, ScratchAllocator<Kept>> kept;
  std::vector<std::uint64_t, ScratchAllocator<std::uint64_t>> entries;
  std::vector<std::uint64_t, ScratchAllocator<std::uint64_t>> spare;
  std::vector<std::uint32_t, LargeAllocator<std::uint32_t>> bucket_start;
  std::vector<Row, ScratchAllocator<Row>> rows;
  std::vector<std::uint32_t, LargeAllocator<std::uint32_t>> occupant;
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
  // The male shuffle's buffers, and the female one's when both run at once,
  // the first part of the female keys then being kept apart.
  ShuffleScratch shuffle;
  ShuffleScratch female_shuffle;
  ShuffleScratch female_front;
};

}  // namespace pedsim
