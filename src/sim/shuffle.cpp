#include "sim/shuffle.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <exception>
#include <future>
#include <limits>
#include <numeric>
#include <stdexcept>

#include "platform/positions_below.hpp"
#include "random/draw_blocks.hpp"

namespace pedsim {

// Why shuffle_prefix gives exactly the order of the selection sort.
//
// Keys are compared through the stream's integer z: every key is z times the
// same scale, so z orders and equates keys exactly like the doubles.
//
// The selection sort never moves a row back into a position it has passed,
// so the first K positions are decided by its first K steps, and those only
// ever select rows whose key is at most T, the K-th smallest key. Call those
// rows S. At step m every unselected row of S lies at position m or below it,
// and the step selects f, the row of S with the smallest key and, among equal
// keys, the lowest current position:
//  - if f stands at m, nothing moves (no row below has a smaller key, and an
//    equal key below would stand lower);
//  - otherwise f changes places with whatever stands at m. If that is a row h
//    of S, h's key is strictly larger than f's (an equal key at m would have
//    been chosen as f), and h moves down to f's old position. A row outside S
//    moves down too, but its position never matters again.
// So only the positions of S matter, and they change only as h moves. Since h
// always has a larger key than the group of equal keys being selected, the
// positions within a group are fixed while the group is emitted: each group
// is sorted by current position once, when it is reached.
//
// S is found without sorting the whole list. The keys are drawn block by
// block, and only those below a bound are kept: when far fewer than half of
// the list are wanted, a bound that far more than K keys lie under;
// otherwise every key. The kept keys are spread into buckets by their top
// bits, and only the buckets up to the one holding the K-th key are sorted.
// If fewer than K keys lie below the bound, the same keys are drawn again and
// all of them are kept.
namespace {

// Appends to scratch.kept every element of list[base, base + keys.size())
// whose key is below `limit`, in list order.
void keep_below(std::span<const std::uint32_t> keys, std::span<const std::int32_t> list,
                std::size_t base, std::uint64_t limit, ShuffleScratch& scratch) {
  auto& picked = scratch.picked;
  picked.resize(keys.size());
  const std::size_t count = positions_below(keys, static_cast<std::uint32_t>(limit), picked.data());
  auto& kept = scratch.kept;
  const std::size_t first = kept.size();
  kept.resize(first + count);
  for (std::size_t c = 0; c < count; ++c) {
    const std::size_t i = picked[c];
    kept[first + c] = {keys[i], static_cast<std::uint32_t>(base + i), list[base + i]};
  }
}

// Appends every element of list[base, base + keys.size()) to scratch.kept.
void keep_all(std::span<const std::uint32_t> keys, std::span<const std::int32_t> list,
              std::size_t base, ShuffleScratch& scratch) {
  auto& kept = scratch.kept;
  const std::size_t first = kept.size();
  kept.resize(first + keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    kept[first + i] = {keys[i], static_cast<std::uint32_t>(base + i), list[base + i]};
  }
}

using Row = ShuffleScratch::Row;

// Sorts rows by key; the order of equal keys does not matter, as the
// selection orders each group of them by position when it reaches it.
void insertion_sort(Row* begin, Row* end) {
  for (Row* i = begin + 1; i < end; ++i) {
    const Row row = *i;
    Row* j = i;
    for (; j > begin && (j - 1)->key > row.key; --j) *j = *(j - 1);
    *j = row;
  }
}

// Writes `from`'s rows, whose keys agree above bit `shift`, to `to` in key
// order: spread by their next bits into about as many buckets as rows, they
// are nearly sorted, and one pass of insertion puts the few that share a
// bucket in order.
void sort_bucket(std::span<const Row> from, Row* to, int shift, ShuffleScratch& scratch) {
  const std::size_t n = from.size();
  // Stream keys fill buckets evenly (a few thousand rows at most, even for
  // lists of hundreds of millions); keys given otherwise (many in one bucket)
  // are sorted outright.
  constexpr std::size_t kMostUniformBucket = std::size_t{1} << 16;
  if (n > kMostUniformBucket) {
    std::copy(from.begin(), from.end(), to);
    std::sort(to, to + n, [](const Row& a, const Row& b) { return a.key < b.key; });
    return;
  }
  const int bits = std::min(static_cast<int>(std::bit_width(n)), shift);
  const int low = shift - bits;
  const std::uint32_t mask = (std::uint32_t{1} << bits) - 1;
  auto& start = scratch.fine_start;
  start.assign((std::size_t{1} << bits) + 1, 0);
  for (const Row& row : from) ++start[(row.key >> low) & mask];
  std::exclusive_scan(start.begin(), start.end(), start.begin(), std::uint32_t{0});
  for (const Row& row : from) to[start[(row.key >> low) & mask]++] = row;
  insertion_sort(to, to + n);
}

// Fills scratch.rows with S in key order from scratch.kept, which holds at
// least every element whose key is at most the K-th smallest, every key below
// `key_limit`. The rows are spread by their keys' top bits into buckets of
// about a thousand (at most 4096 buckets, so that the spreading writes stay
// in the cache), and each bucket is sorted in the cache; only the buckets up
// to the one holding the K-th key are sorted. The keys are uniform, so
// buckets by bits are about equally full.
void order_selection(std::uint64_t key_limit, ShuffleScratch& scratch, std::size_t k_wanted) {
  const auto& kept = scratch.kept;
  const int key_bits = std::max(1, static_cast<int>(std::bit_width(key_limit - 1)));
  constexpr int kMostBucketBits = 12;
  const int bucket_bits = std::clamp(static_cast<int>(std::bit_width(kept.size())) - 10, 0,
                                     std::min(key_bits, kMostBucketBits));
  const int shift = key_bits - bucket_bits;
  auto& start = scratch.bucket_start;
  start.assign((std::size_t{1} << bucket_bits) + 1, 0);
  for (const Row& row : kept) ++start[row.key >> shift];
  std::size_t last = 0;
  std::size_t below = 0;
  while (below + start[last] < k_wanted) below += start[last++];
  // Rows of later buckets are all written, without a branch, to one spare
  // slot after the last needed bucket.
  const std::size_t needed = below + start[last];
  std::exclusive_scan(start.begin(), start.begin() + static_cast<std::ptrdiff_t>(last) + 1,
                      start.begin(), std::uint32_t{0});
  const std::uint32_t overflow = static_cast<std::uint32_t>(last) + 1;
  start[overflow] = static_cast<std::uint32_t>(needed);
  auto& spread = scratch.spread;
  spread.resize(needed + 1);
  for (const Row& row : kept) {
    const std::uint32_t bucket = std::min(row.key >> shift, overflow);
    spread[start[bucket]] = row;
    start[bucket] += bucket < overflow ? 1 : 0;
  }
  // start[b] now ends bucket b.
  auto& rows = scratch.rows;
  rows.resize(needed);
  for (std::size_t b = 0, begin = 0; b <= last; begin = start[b++]) {
    sort_bucket(std::span(spread.data() + begin, start[b] - begin), rows.data() + begin, shift,
                scratch);
  }
  const std::uint32_t threshold = rows[k_wanted - 1].key;
  std::size_t s_size = k_wanted;
  while (s_size < needed && rows[s_size].key == threshold) ++s_size;
  rows.resize(s_size);
}

// A key bound below which, for n uniform keys, far more than K keys lie
// (K plus ten standard deviations and a margin); 0 when no useful bound
// exists and all keys must be kept.
std::uint64_t key_bound(std::size_t n, std::size_t k_wanted) {
  if (n == 0) return 0;
  const double k = static_cast<double>(k_wanted);
  const double share = (k + 10.0 * std::sqrt(k) + 64.0) / static_cast<double>(n);
  if (share >= 0.5) return 0;
  return static_cast<std::uint64_t>(share * UniformStream::kZMax) + 1;
}

// Runs the first K steps of the selection over the rows of S (see above).
// The bookkeeping has no branches: a row outside S and a position at or
// beyond K each have a spare slot, written to and never read, since which
// of the two cases holds changes unpredictably from step to step.
void emit_in_selection_order(ShuffleScratch& scratch, std::span<std::int32_t> out) {
  const auto& rows = scratch.rows;
  const std::size_t k_wanted = out.size();
  const auto s_size = static_cast<std::uint32_t>(rows.size());
  // position[r]: where row r of S stands now; position[s_size] is the spare.
  auto& position = scratch.position;
  position.resize(rows.size() + 1);
  for (std::size_t r = 0; r < rows.size(); ++r) position[r] = rows[r].position;
  // occupant[p]: the unselected row of S at position p, s_size for none.
  // Only positions below K are ever asked; occupant[K] is the spare.
  const auto spare_position = static_cast<std::uint32_t>(k_wanted);
  auto& occupant = scratch.occupant;
  occupant.assign(k_wanted + 1, s_size);
  for (std::uint32_t r = 0; r < s_size; ++r) {
    occupant[std::min(position[r], spare_position)] = r;
  }

  // Rows are selected in key order; only a group of equal keys needs its
  // rows ordered by position, once, when it is reached.
  auto& group = scratch.group;
  group.clear();
  std::size_t group_pos = 0;
  std::size_t next = 0;
  for (std::size_t m = 0; m < k_wanted; ++m) {
    std::size_t selected;
    if (group_pos < group.size()) {
      selected = group[group_pos++];
    } else if (next + 1 == rows.size() || rows[next + 1].key != rows[next].key) {
      selected = next++;
    } else {
      group.clear();
      const std::uint32_t key = rows[next].key;
      while (next < rows.size() && rows[next].key == key) {
        group.push_back(static_cast<std::uint32_t>(next++));
      }
      std::sort(group.begin(), group.end(), [&position](std::uint32_t a, std::uint32_t b) {
        return position[a] < position[b];
      });
      selected = group[0];
      group_pos = 1;
    }
    // The selected row f changes places with h, the row at m: h moves to f's
    // position p. When f already stands at m, h is f and nothing changes.
    const std::uint32_t p = position[selected];
    const std::uint32_t h = occupant[m];
    position[h] = p;
    occupant[std::min(p, spare_position)] = h;
    out[m] = rows[selected].value;
  }
}

// The first step of a shuffle over part of a list: draws the keys of
// list[first, last) from `stream`, which stands at key `first`, and appends
// to scratch's kept entries those below `bound`, in list order. The parts of
// one list are either all bounded or all keep every key.
void keep_drawn_keys(std::span<const std::int32_t> list, std::size_t first, std::size_t last,
                     UniformStream& stream, ShuffleScratch& scratch, std::uint64_t bound) {
  const bool every_key = bound > static_cast<std::uint64_t>(UniformStream::kZMax);
  draw_in_blocks(stream, last - first, scratch.keys,
                 [&](std::size_t offset, std::span<const std::uint32_t> block) {
                   const std::size_t begin = first + offset;
                   if (every_key) {
                     keep_all(block, list, begin, scratch);
                   } else {
                     keep_below(block, list, begin, bound, scratch);
                   }
                 });
}

// Appends the kept entries of `back`, a later part of the same list, to
// those of `into`.
void append_kept(ShuffleScratch& into, const ShuffleScratch& back) {
  into.kept.insert(into.kept.end(), back.kept.begin(), back.kept.end());
}

void check_wanted(std::span<const std::int32_t> list, std::span<std::int32_t> out) {
  if (out.size() > list.size()) {
    throw std::invalid_argument("shuffle: more entries wanted than listed");
  }
}

// The second step: from the kept entries of the whole list, writes the first
// out.size() elements of the shuffled order to `out`. When fewer keys than
// wanted were kept, draws all keys again from `keys_start`, the stream as it
// stood at the list's first key, and selects among them exactly.
void select_from_kept(std::span<const std::int32_t> list, std::span<std::int32_t> out,
                      const UniformStream& keys_start, ShuffleScratch& scratch,
                      std::uint64_t bound) {
  if (out.empty()) return;
  if (scratch.kept.size() < out.size()) {
    UniformStream again = keys_start;
    scratch.keys.resize(list.size());
    again.fill_z(scratch.keys);
    select_prefix_by_keys(list, scratch, out);
    return;
  }
  order_selection(bound, scratch, out.size());
  emit_in_selection_order(scratch, out);
}

void clear_kept(ShuffleScratch& scratch) { scratch.kept.clear(); }

// From this many elements in both lists on, the two shuffles run side by side
// (each thread's share then takes well over the cost of starting a thread).
constexpr std::size_t kPairSideBySide = std::size_t{1} << 16;

// Selecting a kept key costs about this many times as much as drawing and
// testing a key (measured: about 25 ns against 1.3 ns); it sets how the work
// is shared between the two threads.
constexpr std::size_t kSelectionCostPerKey = 20;

// How many of the second list's keys, from the first, the helper thread
// draws and tests before shuffling the first list, so that both threads have
// about as much to do when the second shuffle selects more entries from a
// longer list. At most half, so that the helper's part is ready when the
// rest is.
std::size_t second_keys_for_helper(std::size_t first_size, std::size_t first_wanted,
                                   std::size_t second_size, std::size_t second_wanted) {
  const std::size_t second_work = second_size + kSelectionCostPerKey * second_wanted;
  const std::size_t first_work = first_size + kSelectionCostPerKey * first_wanted;
  if (second_work <= first_work) return 0;
  return std::min((second_work - first_work) / 2, second_size / 2);
}

}  // namespace

void select_prefix_by_keys(std::span<const std::int32_t> list, ShuffleScratch& scratch,
                           std::span<std::int32_t> out) {
  check_wanted(list, out);
  if (out.empty()) return;
  scratch.kept.clear();
  keep_all(scratch.keys, list, 0, scratch);
  order_selection(kKeepEveryKey, scratch, out.size());
  emit_in_selection_order(scratch, out);
}

std::uint64_t shuffle_key_bound(std::size_t n, std::size_t k_wanted) {
  const std::uint64_t bound = key_bound(n, k_wanted);
  return bound == 0 ? kKeepEveryKey : bound;
}

void shuffle_prefix_bounded(std::span<const std::int32_t> list, std::span<std::int32_t> out,
                            UniformStream& stream, ShuffleScratch& scratch, std::uint64_t bound) {
  check_wanted(list, out);
  const UniformStream start = stream;
  clear_kept(scratch);
  keep_drawn_keys(list, 0, list.size(), stream, scratch, bound);
  select_from_kept(list, out, start, scratch, bound);
}

void shuffle_prefix(std::span<const std::int32_t> list, std::span<std::int32_t> out,
                    UniformStream& stream, ShuffleScratch& scratch) {
  shuffle_prefix_bounded(list, out, stream, scratch, shuffle_key_bound(list.size(), out.size()));
}

void shuffle_prefixes_in_turn(std::span<const std::int32_t> first,
                              std::span<std::int32_t> first_out,
                              std::span<const std::int32_t> second,
                              std::span<std::int32_t> second_out, UniformStream& stream,
                              ShufflePairScratch& scratch, HelperThread& helper) {
  check_wanted(first, first_out);
  check_wanted(second, second_out);
  // The second list's keys follow the first's in the stream.
  UniformStream second_start = stream;
  second_start.jump(first.size());
  if (first.size() + second.size() < kPairSideBySide) {
    shuffle_prefix(first, first_out, stream, scratch.first);
    shuffle_prefix(second, second_out, second_start, scratch.first);
    stream = second_start;
    return;
  }
  // The helper draws and tests the front of the second list's keys, then
  // shuffles the first list; meanwhile this thread draws and tests the rest
  // of the second list's keys. Once both parts are kept, this thread selects
  // from the second list.
  const std::size_t split =
      second_keys_for_helper(first.size(), first_out.size(), second.size(), second_out.size());
  const std::uint64_t bound = shuffle_key_bound(second.size(), second_out.size());
  auto& front = scratch.second_front;
  auto& back = scratch.second;
  clear_kept(front);
  clear_kept(back);
  UniformStream back_stream = second_start;
  back_stream.jump(split);
  std::promise<void> front_kept;
  std::future<void> front_ready = front_kept.get_future();
  helper.side_by_side(
      [&] {
        keep_drawn_keys(second, split, second.size(), back_stream, back, bound);
        front_ready.get();
        append_kept(front, back);
        select_from_kept(second, second_out, second_start, front, bound);
      },
      [&, first_stream = stream, front_stream = second_start]() mutable {
        try {
          keep_drawn_keys(second, 0, split, front_stream, front, bound);
          front_kept.set_value();
        } catch (...) {
          front_kept.set_exception(std::current_exception());
          throw;
        }
        shuffle_prefix(first, first_out, first_stream, scratch.first);
      });
  stream = back_stream;
}

}  // namespace pedsim
