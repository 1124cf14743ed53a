#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/selection_store.hpp"
#include "random/uniform_stream.hpp"

namespace pedsim {

// A matrix of doubles with rows 1..nrow and columns 1..ncol.
class KeyMatrix {
 public:
  KeyMatrix(std::int32_t nrow, std::int32_t ncol);
  double& at(std::int32_t row, std::int32_t col) { return data_[index(row, col)]; }
  double at(std::int32_t row, std::int32_t col) const { return data_[index(row, col)]; }
  std::int32_t nrow() const { return nrow_; }
  std::int32_t ncol() const { return ncol_; }

 private:
  std::size_t index(std::int32_t row, std::int32_t col) const {
    return static_cast<std::size_t>(row - 1) * static_cast<std::size_t>(ncol_) +
           static_cast<std::size_t>(col - 1);
  }
  std::int32_t nrow_;
  std::int32_t ncol_;
  std::vector<double> data_;
};

// Reorders the rows of `matrix` so that column `kcol` ascends, by selection:
// for each row m in turn, the first row below it holding the smallest key
// below it changes places with row m when that key is strictly smaller than
// row m's. Equal keys are placed by these steps, not kept stable. Quadratic:
// the reference for shuffle_prefix.
void sortmat2(KeyMatrix& matrix, std::int32_t kcol);

// Puts `list` into random order: one key per element drawn in list order,
// the rows sorted by key with sortmat2. Quadratic: the reference.
void random_permu(std::span<std::int32_t> list, UniformStream& stream);

// Writes to `out` the first out.size() elements of `list` in the order that
// sortmat2 gives when element k carries key scratch.keys[k], a stream integer
// z below 2^31. out.size() must not exceed list.size().
void select_prefix_by_keys(std::span<const std::int32_t> list, ShuffleScratch& scratch,
                           std::span<std::int32_t> out);

// A key bound that keeps every key.
inline constexpr std::uint64_t kKeepEveryKey = std::uint64_t{1} << 31;

// The bound below which shuffle_prefix keeps the keys of a list of n
// elements of which k are wanted: far more than k keys lie below it, and
// only those are sorted; kKeepEveryKey when about half or more are wanted.
std::uint64_t shuffle_key_bound(std::size_t n, std::size_t k);

// The first step of shuffle_prefix over part of a list: draws the keys of
// list[first, last) from `stream`, which stands at key `first`, and appends
// to scratch's kept entries those below `bound`, in list order. The parts of
// one list are either all bounded or all keep every key.
void keep_drawn_keys(std::span<const std::int32_t> list, std::size_t first, std::size_t last,
                     UniformStream& stream, ShuffleScratch& scratch, std::uint64_t bound);

// Appends the kept entries of `back`, a later part of the same list, to
// those of `into`.
void append_kept(ShuffleScratch& into, const ShuffleScratch& back);

// The second step: from the kept entries of the whole list, writes the first
// out.size() elements of the shuffled order to `out`. When fewer keys than
// wanted were kept, draws all keys again from `keys_start`, the stream as it
// stood at the list's first key, and selects among them exactly.
void select_from_kept(std::span<const std::int32_t> list, std::span<std::int32_t> out,
                      const UniformStream& keys_start, ShuffleScratch& scratch,
                      std::uint64_t bound);

// shuffle_prefix keeping only keys below `bound` while drawing. The result
// is the same for every bound.
void shuffle_prefix_bounded(std::span<const std::int32_t> list, std::span<std::int32_t> out,
                            UniformStream& stream, ShuffleScratch& scratch, std::uint64_t bound);

// The same shuffle at scale: draws one key per element of `list` exactly as
// random_permu does and writes the first out.size() elements of the order that
// random_permu would give (equal keys included) to `out`, in
// O(list.size() + out.size() log) time. out.size() must not exceed list.size().
void shuffle_prefix(std::span<const std::int32_t> list, std::span<std::int32_t> out,
                    UniformStream& stream, ShuffleScratch& scratch);

}  // namespace pedsim
