#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pedsim/simulation.hpp"

namespace pedsim {

// ids.tsv: a header row, then each animal's number (as ped.pre gives it)
// and name (as the other files give it).
void write_ids(const Simulation& run, ByteSink& out);

// Which genotypes a file holds.
enum class Genotypes { kRecorded, kTrue };

// The family ID every format gives the animals: one family, so that the
// field's tools find each animal's parents.
inline constexpr std::string_view kFamilyId = "1";

// A run's genotypes and markers as the field's formats name them, with or
// without a panel: animals 1..created() by number, each marker with a name,
// a chromosome code, a centimorgan and a base-pair position, and alleles
// written as letters (allele 1 "A", 2 "C", 3 "G", 4 "T"; with more than four
// possible alleles, allele a is a-1 in base 4 with those letters as digits,
// as many letters as the largest needs).
class GenotypeView {
 public:
  GenotypeView(const Simulation& run, Genotypes genotypes);

  const Simulation& run() const { return run_; }
  std::int32_t animals() const { return run_.pedigree.created(); }
  // An animal's name: its number, or its name in a supplied pedigree; "0"
  // for none.
  std::string animal_name(std::int32_t animal) const { return run_.animal_name(animal); }
  std::int32_t markers() const { return map_.size(); }
  const std::string& name(std::int32_t marker) const {
    return map_.names[static_cast<std::size_t>(marker)];
  }
  // "1" for unlinked markers, which stand on chromosome 1 one base apart.
  const std::string& chromosome(std::int32_t marker) const;
  double position_cm(std::int32_t marker) const;
  // round(cM x 10^6) + 1 (1 cM taken as 1 Mb); unlinked: the marker's number.
  std::int64_t base_pair(std::int32_t marker) const;
  // The most alleles a marker can hold here: its alleles, and one more when
  // --error-model design can make it (recorded genotypes only).
  std::int32_t allele_limit() const { return allele_limit_; }
  std::string_view label(std::int32_t allele) const {
    return labels_[static_cast<std::size_t>(allele)];
  }
  // Allele 1.. of `animal` at `marker` from haplotype `side` (0: the
  // sire's); 0 where nothing was recorded.
  std::int32_t allele(std::int32_t animal, std::int32_t marker, int side) const;
  // Whether some animals carry fewer than two copies of `marker` (X, Y,
  // MT).
  bool sex_linked(std::int32_t marker) const {
    return run_.has_panel() && run_.panel.sex_linked(marker);
  }
  // The copies of `marker` in the DNA these genotypes are of: the animal's,
  // or for recorded genotypes the sample typed as the animal's.
  int copies(std::int32_t animal, std::int32_t marker) const {
    if (!run_.has_panel()) return 2;
    const Panel& panel = run_.panel;
    return panel.copies(genotypes_ == Genotypes::kRecorded ? panel.sample(animal) : animal, marker);
  }
  // The alleles of markers [first, first + count) of every animal: per
  // marker, per animal, its two alleles (marker-major).
  void alleles_of_markers(std::int32_t first, std::int32_t count,
                          std::vector<std::uint16_t>& out) const;

  // Whether markers [first, first + count) have genotype codes: a
  // two-allele panel's markers that every animal carries twice.
  bool has_codes(std::int32_t first, std::int32_t count) const;
  // Then `animal`'s codes at the 64 markers of word `word`: 0 where nothing
  // was recorded, else 1 + 2 (first - 1) + (second - 1).
  void codes_of_animal(std::int32_t animal, std::size_t word, std::uint8_t* codes) const;

 private:
  // The alleles of markers [first, first + count) of `animal`, marker k's
  // two at out[k * stride].
  void alleles_of_animal(std::int32_t animal, std::int32_t first, std::int32_t count,
                         std::uint16_t* out, std::size_t stride) const;

  const Simulation& run_;
  Genotypes genotypes_;
  MarkerMap map_;
  std::int32_t allele_limit_;
  std::vector<std::string> labels_;
};

}  // namespace pedsim
