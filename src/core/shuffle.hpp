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

// shuffle_prefix keeping only keys below `bound` while drawing; when fewer
// than out.size() keys lie below it, the keys are drawn again and selected
// exactly. The result is the same for every bound.
void shuffle_prefix_bounded(std::span<const std::int32_t> list, std::span<std::int32_t> out,
                            UniformStream& stream, ShuffleScratch& scratch, std::uint64_t bound);

// The same shuffle at scale: draws one key per element of `list` exactly as
// random_permu does and writes the first out.size() elements of the order that
// random_permu would give (equal keys included) to `out`, in
// O(list.size() + out.size() log) time. out.size() must not exceed list.size().
void shuffle_prefix(std::span<const std::int32_t> list, std::span<std::int32_t> out,
                    UniformStream& stream, ShuffleScratch& scratch);

}  // namespace pedsim
