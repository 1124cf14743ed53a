#include "core/shuffle.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace pedsim {

KeyMatrix::KeyMatrix(std::int32_t nrow, std::int32_t ncol)
    : nrow_(std::max(nrow, 0)),
      ncol_(std::max(ncol, 1)),
      data_(static_cast<std::size_t>(nrow_) * static_cast<std::size_t>(ncol_)) {}

void sortmat2(KeyMatrix& matrix, std::int32_t kcol) {
  const std::int32_t nrow = matrix.nrow();
  for (std::int32_t m = 1; m < nrow; ++m) {
    double smallest = std::numeric_limits<double>::infinity();
    for (std::int32_t r = m + 1; r <= nrow; ++r) {
      if (matrix.at(r, kcol) < smallest) smallest = matrix.at(r, kcol);
    }
    std::int32_t j = m + 1;
    while (j <= nrow && matrix.at(j, kcol) != smallest) ++j;
    if (j > nrow || !(matrix.at(j, kcol) < matrix.at(m, kcol))) continue;
    for (std::int32_t c = 1; c <= matrix.ncol(); ++c) std::swap(matrix.at(m, c), matrix.at(j, c));
  }
}

void random_permu(std::span<std::int32_t> list, UniformStream& stream) {
  const auto n = static_cast<std::int32_t>(list.size());
  KeyMatrix keys(n, 2);
  for (std::int32_t k = 1; k <= n; ++k) keys.at(k, 1) = stream.draw_uniform();
  for (std::int32_t k = 1; k <= n; ++k) keys.at(k, 2) = static_cast<double>(list[k - 1]);
  sortmat2(keys, 1);
  for (std::int32_t k = 1; k <= n; ++k) {
    list[k - 1] = static_cast<std::int32_t>(std::lround(keys.at(k, 2)));
  }
}

// Why shuffle_prefix gives exactly the order of random_permu.
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
// S is found without sorting the whole list: keys are counted into buckets by their
// top bits, the bucket holding the K-th key is located, and only the keys of
// that bucket and the ones below it are sorted.
namespace {

// Fills scratch.rows with S, the rows whose key is at most the K-th smallest,
// ordered by key and, among equal keys, by position. Keys are counted into
// buckets by their top bits; only the buckets up to the one holding the K-th
// key are gathered and sorted.
void gather_selected_rows(ShuffleScratch& scratch, std::size_t k_wanted) {
  const auto& keys = scratch.keys;
  const std::size_t n = keys.size();
  const int bits = std::clamp(static_cast<int>(std::bit_width(n)) - 1, 1, 16);
  const int shift = 31 - bits;
  auto& start = scratch.bucket_start;
  start.assign((std::size_t{1} << bits) + 1, 0);
  for (std::size_t i = 0; i < n; ++i) ++start[(keys[i] >> shift) + 1];

  std::size_t last = 0;
  for (;; ++last) {
    start[last + 1] += start[last];
    if (start[last + 1] >= k_wanted) break;
  }
  auto& sorted = scratch.sorted;
  sorted.resize(start[last + 1]);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t b = keys[i] >> shift;
    if (b <= last) sorted[start[b]++] = (std::uint64_t{keys[i]} << 32) | i;
  }
  // Each start[b] now holds the end of bucket b, which is the start of b + 1.
  for (std::size_t b = 0; b <= last; ++b) {
    std::sort(sorted.begin() + (b == 0 ? 0 : start[b - 1]), sorted.begin() + start[b]);
  }

  const std::uint64_t threshold = sorted[k_wanted - 1] >> 32;
  std::size_t s_size = k_wanted;
  while (s_size < sorted.size() && (sorted[s_size] >> 32) == threshold) ++s_size;
  scratch.rows.resize(s_size);
  for (std::size_t r = 0; r < s_size; ++r) {
    const auto pos = static_cast<std::uint32_t>(sorted[r]);
    scratch.rows[r] = {static_cast<std::uint32_t>(sorted[r] >> 32), pos, pos};
  }
}

constexpr std::size_t kPrefetchDistance = 16;

// Runs the first K steps of the selection over the rows of S (see above).
void emit_in_selection_order(std::span<const std::int32_t> list, ShuffleScratch& scratch,
                             std::span<std::int32_t> out) {
  auto& rows = scratch.rows;
  const std::size_t k_wanted = out.size();
  // occupant[p]: the unselected row of S at position p, if any. Only
  // positions below K are ever asked, so only those are kept.
  constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
  auto& occupant = scratch.occupant;
  occupant.assign(k_wanted, kNone);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (rows[r].position < k_wanted) occupant[rows[r].position] = static_cast<std::uint32_t>(r);
  }

  auto& group = scratch.group;
  group.clear();
  std::size_t group_next = 0;
  std::size_t group_pos = 0;
  for (std::size_t m = 0; m < k_wanted; ++m) {
    // Rows are mostly emitted in their sorted order; fetch the list entry of
    // a row some steps ahead, since the list is far larger than the cache.
    if (m + kPrefetchDistance < rows.size()) {
      __builtin_prefetch(&list[rows[m + kPrefetchDistance].origin]);
    }
    if (group_pos == group.size()) {
      group.clear();
      group_pos = 0;
      const std::uint32_t key = rows[group_next].key;
      while (group_next < rows.size() && rows[group_next].key == key) {
        group.push_back(static_cast<std::uint32_t>(group_next++));
      }
      std::sort(group.begin(), group.end(), [&rows](std::uint32_t a, std::uint32_t b) {
        return rows[a].position < rows[b].position;
      });
    }
    const auto& f = rows[group[group_pos++]];
    const std::uint32_t p = f.position;
    if (p != m) {
      const std::uint32_t h = occupant[m];
      if (h != kNone) rows[h].position = p;
      if (p < k_wanted) occupant[p] = h;
    }
    out[m] = list[f.origin];
  }
}

}  // namespace

void select_prefix_by_keys(std::span<const std::int32_t> list, ShuffleScratch& scratch,
                           std::span<std::int32_t> out) {
  if (out.size() > list.size() || scratch.keys.size() != list.size()) {
    throw std::invalid_argument("select_prefix_by_keys: more entries wanted than listed");
  }
  if (out.empty()) return;
  gather_selected_rows(scratch, out.size());
  emit_in_selection_order(list, scratch, out);
}

void shuffle_prefix(std::span<const std::int32_t> list, std::span<std::int32_t> out,
                    UniformStream& stream, ShuffleScratch& scratch) {
  scratch.keys.resize(list.size());
  stream.fill_z(scratch.keys);
  select_prefix_by_keys(list, scratch, out);
}

}  // namespace pedsim
