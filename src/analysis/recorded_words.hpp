#pragma once

#include <bit>
#include <cstdint>
#include <span>
#include <vector>

#include "pedsim/simulation.hpp"

namespace pedsim {

// An animal's recorded genotypes over a two-allele panel, 64 markers a
// word: per side, a bit set where allele 2 was recorded, and a bit set
// where the genotype was called. Checks between relatives then take a word
// of markers at a time.
class RecordedWords {
 public:
  // Reads `animal`'s records (0: no animal, nothing called). False when
  // words cannot hold them: a panel of more alleles, or a genotype the
  // design's error rule recorded with allele 3.
  bool read(const Panel& panel, std::int32_t animal);

  std::uint64_t called(std::size_t w) const { return called_[w]; }
  // Markers where allele 1 (allele 2) is among the two.
  std::uint64_t has_first(std::size_t w) const { return ~(first_[w] & second_[w]); }
  std::uint64_t has_second(std::size_t w) const { return first_[w] | second_[w]; }

 private:
  bool set(std::int32_t marker, std::int32_t first, std::int32_t second);
  void remember(const Panel& panel, std::int32_t animal) {
    panel_ = &panel;
    animal_ = animal;
  }

  // Whose records these are, or null.
  const Panel* panel_ = nullptr;
  std::int32_t animal_ = 0;

  std::vector<std::uint64_t> first_;
  std::vector<std::uint64_t> second_;
  std::vector<std::uint64_t> called_;
};

// Per word, the markers where the child's called genotype cannot come from
// its parents' called genotypes (a parent not called constrains nothing,
// nor a sire where `sire_passes` is clear: see Panel::passed_bits).
std::uint64_t trio_conflicts(const RecordedWords& child, const RecordedWords& sire,
                             const RecordedWords& dam, std::size_t w, std::uint64_t sire_passes);

// Per animal, the words of markers at which its recorded genotype cannot
// come from its recorded parents'.
class ConflictWords {
 public:
  explicit ConflictWords(const Panel& panel) : panel_(panel) {}
  // Fills `out` (a word per 64 markers) for `animal`; false when words
  // cannot hold the records of the animal or its parents.
  bool of(const Pedigree& pedigree, std::int32_t animal, std::vector<std::uint64_t>& out);

 private:
  const Panel& panel_;
  RecordedWords child_;
  RecordedWords sire_;
  RecordedWords dam_;
};

// Calls marker(m) for each marker whose bit is set, in order.
template <class Marker>
void for_each_marker(std::span<const std::uint64_t> words, Marker&& marker) {
  for (std::size_t w = 0; w < words.size(); ++w) {
    for (std::uint64_t bits = words[w]; bits != 0; bits &= bits - 1) {
      marker(static_cast<std::int32_t>(w * 64) + std::countr_zero(bits));
    }
  }
}

// Per word, the markers where the two, both called and the marker `passed`
// from the parent to the animal, share no allele.
std::uint64_t exclusions(const RecordedWords& animal, const RecordedWords& parent, std::size_t w,
                         std::uint64_t passed);

}  // namespace pedsim
