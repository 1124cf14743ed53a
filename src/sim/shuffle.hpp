#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/helper_thread.hpp"
#include "platform/large_memory.hpp"
#include "random/uniform_stream.hpp"

namespace pedsim {

// The shuffle of parent selection puts a list into random order: every
// element gets one key, drawn in list order, and the elements are ordered by
// selection sort on the keys. For each position m in turn, the first of the
// rows below m holding the smallest key below m changes places with row m
// when that key is strictly smaller than row m's. Equal keys (the stream has
// about 2^31 values, so they do occur) are placed by exactly these steps, not
// kept stable. The functions here give that order without sorting the whole
// list.

// Buffers of one shuffle, kept so that repeated shuffles reuse their memory.
struct ShuffleScratch {
  // An element of the list with its key and its position, which the
  // selection changes as it runs.
  struct Row {
    std::uint32_t key;
    std::uint32_t position;
    std::int32_t value;  // the list's element
  };
  std::vector<std::uint32_t, LargeAllocator<std::uint32_t>> keys;
  // Positions within a block of keys whose key is kept.
  std::vector<std::uint32_t, ScratchAllocator<std::uint32_t>> picked;
  // The elements whose key is low enough to be among the first selected, in
  // list order.
  std::vector<Row, ScratchAllocator<Row>> kept;
  // The rows of the selection in key order.
  std::vector<Row, ScratchAllocator<Row>> rows;
  // The kept rows spread into buckets by their keys' top bits.
  std::vector<Row, ScratchAllocator<Row>> spread;
  std::vector<std::uint32_t, LargeAllocator<std::uint32_t>> bucket_start;
  std::vector<std::uint32_t> fine_start;
  std::vector<std::uint32_t, ScratchAllocator<std::uint32_t>> position;
  std::vector<std::uint32_t, LargeAllocator<std::uint32_t>> occupant;
  std::vector<std::uint32_t> group;
};

// Draws one key per element of `list` and writes the first out.size()
// elements of the shuffled order to `out`. out.size() must not exceed
// list.size(); the stream advances by list.size() numbers.
void shuffle_prefix(std::span<const std::int32_t> list, std::span<std::int32_t> out,
                    UniformStream& stream, ShuffleScratch& scratch);

// Writes to `out` the first out.size() elements of the shuffled order when
// element k carries key scratch.keys[k], a stream integer. out.size() must
// not exceed list.size().
void select_prefix_by_keys(std::span<const std::int32_t> list, ShuffleScratch& scratch,
                           std::span<std::int32_t> out);

// A key bound that keeps every key.
inline constexpr std::uint64_t kKeepEveryKey = std::uint64_t{1} << 31;

// The bound below which shuffle_prefix keeps the keys of a list of n
// elements of which k are wanted: far more than k keys lie below it, and
// only those are sorted; kKeepEveryKey when about half or more are wanted.
std::uint64_t shuffle_key_bound(std::size_t n, std::size_t k);

// shuffle_prefix keeping only the keys below `bound` while drawing; the
// result is the same for every bound.
void shuffle_prefix_bounded(std::span<const std::int32_t> list, std::span<std::int32_t> out,
                            UniformStream& stream, ShuffleScratch& scratch, std::uint64_t bound);

// Buffers of two shuffles done side by side.
struct ShufflePairScratch {
  ShuffleScratch first;
  ShuffleScratch second;
  ShuffleScratch second_front;
};

// shuffle_prefix of `first` into `first_out`, then of `second` into
// `second_out`, from the one stream: the same result and the same numbers
// drawn. Long lists are shuffled on two threads, the second list's keys
// drawn from the stream jumped past the first's.
void shuffle_prefixes_in_turn(std::span<const std::int32_t> first,
                              std::span<std::int32_t> first_out,
                              std::span<const std::int32_t> second,
                              std::span<std::int32_t> second_out, UniformStream& stream,
                              ShufflePairScratch& scratch, HelperThread& helper);

}  // namespace pedsim
