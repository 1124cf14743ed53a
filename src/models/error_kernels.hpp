#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "pedsim/markers.hpp"
#include "pedsim/models.hpp"

namespace pedsim {

// Animal i's row as the error kernels read it.
struct RowWords {
  const std::uint64_t* missing;  // null: every genotype called
  const std::uint64_t* from_sire;
  const std::uint64_t* from_dam;
};

// A batch of events of one row (a marker and a 32-bit number each): the
// cells the model changed, written at `out`, and how many.
using BatchKernel = std::size_t (*)(const RowWords& row, std::int32_t alleles,
                                    const std::int32_t* markers, const std::uint32_t* draws,
                                    std::size_t count, AlteredCell* out);

// The rule of an error model, as the error layer runs it.
struct ErrorKernel {
  enum class Kind {
    kNone,        // no errors
    kDesignRule,  // the design's rule, an animal at a time
    kMatrix,      // a genotype's change by its row of the matrix
    kRate,        // each genotype changed with the marker's rate
  } kind;
  // A rate model's batches, for panels of one bit and of eight bits per allele.
  BatchKernel batch_one_bit = nullptr;
  BatchKernel batch_eight_bits = nullptr;
  // A rate model's change of a called genotype (a, b) by one 32-bit number.
  std::array<std::int32_t, 2> (*change)(std::uint32_t draw, std::int32_t alleles, std::int32_t a,
                                        std::int32_t b) = nullptr;
  // Whether a rate model can change (a, b): an exact count is spread over these.
  bool (*alters)(std::int32_t a, std::int32_t b) = nullptr;
};

// x where `pick` is set, else y, by arithmetic (the pick is a random bit,
// which a branch would mispredict half the time).
inline std::int32_t either(bool pick, std::int32_t x, std::int32_t y) {
  return y ^ ((x ^ y) & -static_cast<std::int32_t>(pick));
}

// The events of a batch, without a branch on the data: every event's cell
// is written, and kept when called and changed. The panel's bits per allele
// (1: two alleles) and the model are fixed, so that the loop is short.
template <int kBits, class Change>
std::size_t alter_events(const RowWords& row, std::int32_t alleles, const std::int32_t* markers,
                         const std::uint32_t* draws, std::size_t count, AlteredCell* out) {
  constexpr std::uint64_t kCode = (std::uint64_t{1} << kBits) - 1;
  const std::int32_t marker_alleles = kBits == 1 ? 2 : alleles;
  std::size_t kept = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const std::int32_t m = markers[k];
    const bool called = row.missing == nullptr || ((row.missing[m / 64] >> (m % 64)) & 1) == 0;
    const std::size_t bit = static_cast<std::size_t>(m) * kBits;
    const auto a = static_cast<std::int32_t>((row.from_sire[bit / 64] >> (bit % 64)) & kCode) + 1;
    const auto b = static_cast<std::int32_t>((row.from_dam[bit / 64] >> (bit % 64)) & kCode) + 1;
    const auto [first, second] = Change::change(draws[k], marker_alleles, a, b);
    out[kept] = {m, static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(second)};
    kept += called && (first != a || second != b) ? 1 : 0;
  }
  return kept;
}

// The kernel of a rate model whose Change has
//   static std::array<std::int32_t, 2> change(std::uint32_t draw,
//       std::int32_t alleles, std::int32_t a, std::int32_t b);
//   static bool alters(std::int32_t a, std::int32_t b);
// `change` returns (a, b) itself where the model leaves the genotype.
template <class Change>
constexpr ErrorKernel rate_kernel() {
  return {ErrorKernel::Kind::kRate, alter_events<1, Change>, alter_events<8, Change>,
          Change::change, Change::alters};
}

}  // namespace pedsim
