#include "analysis/allele_tally.hpp"

#include <algorithm>
#include <array>
#include <bit>

namespace pedsim {

namespace {

// Per bit of each of a row's words, a count kept in bit planes: adding a
// word of 64 bits costs a few operations, not 64 increments. Up to 255 per
// bit; spill() moves the counts into 64-bit totals.
class BitCounters {
 public:
  explicit BitCounters(std::size_t words) : planes_(words), totals_(words * 64, 0) {}

  void add(std::size_t w, std::uint64_t bits) {
    std::array<std::uint64_t, kPlanes>& p = planes_[w];
    for (std::size_t k = 0; k < kPlanes && bits != 0; ++k) {
      const std::uint64_t carry = p[k] & bits;
      p[k] ^= bits;
      bits = carry;
    }
  }

  // Each count added to its total and cleared: call before any bit could
  // pass 255.
  void spill() {
    for (std::size_t w = 0; w < planes_.size(); ++w) {
      for (std::size_t k = 0; k < kPlanes; ++k) {
        for (std::uint64_t bits = planes_[w][k]; bits != 0; bits &= bits - 1) {
          totals_[w * 64 + static_cast<std::size_t>(std::countr_zero(bits))] += std::int64_t{1}
                                                                                << k;
        }
        planes_[w][k] = 0;
      }
    }
  }

  std::int64_t total(std::size_t bit) const { return totals_[bit]; }

 private:
  static constexpr std::size_t kPlanes = 8;
  std::vector<std::array<std::uint64_t, kPlanes>> planes_;
  std::vector<std::int64_t> totals_;
};

// Two-allele panels, a word of 64 markers at a time: the copies of allele
// 2 and the heterozygous founders counted in bit planes.
void tally_bit_planes(const Panel& panel, std::int32_t founders, AlleleTally& t) {
  const std::size_t words = panel.words();
  BitCounters second(words);
  BitCounters heterozygous(words);
  // Two additions per animal: spill before 255 can be passed.
  constexpr std::int32_t kSpillEvery = 127;
  for (std::int32_t i = 1; i <= panel.bred(); ++i) {
    const std::uint64_t* a = panel.haplotype(i, 0);
    const std::uint64_t* b = panel.haplotype(i, 1);
    for (std::size_t w = 0; w < words; ++w) {
      // One copy is counted once; a female's Y (cleared) adds nothing.
      second.add(w, a[w] & ~panel.one_copy_bits(i, w));
      second.add(w, b[w]);
      if (i <= founders) heterozygous.add(w, a[w] ^ b[w]);
    }
    if (i % kSpillEvery == 0) {
      second.spill();
      heterozygous.spill();
    }
  }
  second.spill();
  heterozygous.spill();
  const std::vector<std::int64_t> carried = carried_by_marker(panel).copies;
  for (std::int32_t m = 0; m < panel.markers(); ++m) {
    const auto bit = static_cast<std::size_t>(m);
    t.copies[bit * 3 + 2] = second.total(bit);
    t.copies[bit * 3 + 1] = carried[bit] - second.total(bit);
    t.heterozygous[bit] = heterozygous.total(bit);
  }
}

// Other panels, an allele a byte.
void tally_bytes(const Panel& panel, std::int32_t founders, AlleleTally& t) {
  const auto row = static_cast<std::size_t>(t.alleles + 1);
  for (std::int32_t i = 1; i <= panel.bred(); ++i) {
    for (std::int32_t m = 0; m < panel.markers(); ++m) {
      const int copies = panel.copies(i, m);
      if (copies == 0) continue;
      const std::int32_t a = panel.true_allele(i, m, 0);
      const std::int32_t b = panel.true_allele(i, m, 1);
      const std::size_t at = static_cast<std::size_t>(m) * row;
      if (copies == 2) ++t.copies[at + static_cast<std::size_t>(a)];
      ++t.copies[at + static_cast<std::size_t>(b)];
      if (i <= founders && a != b) ++t.heterozygous[static_cast<std::size_t>(m)];
    }
  }
}

}  // namespace

AlleleTally tally_alleles(const Panel& panel, std::int32_t founders) {
  AlleleTally t;
  t.alleles = panel.map().alleles;
  const auto markers = static_cast<std::size_t>(panel.markers());
  t.copies.assign(markers * static_cast<std::size_t>(t.alleles + 1), 0);
  t.heterozygous.assign(markers, 0);
  if (panel.bits() == 1) {
    tally_bit_planes(panel, founders, t);
  } else {
    tally_bytes(panel, founders, t);
  }
  return t;
}

Carried carried_by_marker(const Panel& panel) {
  std::int64_t males = 0;
  for (std::int32_t i = 1; i <= panel.bred(); ++i) males += panel.male(i) ? 1 : 0;
  const std::int64_t bred = panel.bred();
  const auto markers = static_cast<std::size_t>(panel.markers());
  Carried c{std::vector<std::int64_t>(markers, bred), std::vector<std::int64_t>(markers, 2 * bred)};
  const auto set = [&c](const MarkerRange& range, std::int64_t animals, std::int64_t copies) {
    for (std::int32_t m = range.first; m < range.end; ++m) {
      c.carriers[static_cast<std::size_t>(m)] = animals;
      c.copies[static_cast<std::size_t>(m)] = copies;
    }
  };
  set(panel.x_markers(), bred, 2 * bred - males);
  set(panel.y_markers(), males, males);
  set(panel.mt_markers(), bred, bred);
  return c;
}

}  // namespace pedsim
