#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pedsim/column.hpp"

namespace pedsim {

// A marker genotype: two alleles (the design's marker: each 1, 2 or 3, the
// first at most the second). 0/0 is no genotype (a record removed, a row
// never bred).
struct Genotype {
  std::int32_t first = 0;
  std::int32_t second = 0;
  friend bool operator==(const Genotype&, const Genotype&) = default;
};

// The alleles of one marker, one row per animal (rows as in the pedigree):
// the true genotype, and the recorded one (0/0 when not genotyped; an error
// changes a recorded allele).
struct MarkerColumns {
  CodeColumn true_first;
  CodeColumn true_second;
  CodeColumn recorded_first;
  CodeColumn recorded_second;
};

// The genotypes of every animal at every marker, true and recorded, with
// the number of markers and each marker's number of alleles as data, and
// whether each animal's records were removed. The design's run is the store
// of one three-allele marker.
class GenotypeStore {
 public:
  GenotypeStore() = default;
  // Rows 1..animals at each marker; marker m has allele_counts[m] alleles.
  GenotypeStore(std::int32_t animals, std::vector<std::int32_t> allele_counts);

  std::int32_t animals() const { return lost.size(); }
  std::int32_t markers() const { return static_cast<std::int32_t>(markers_.size()); }
  std::int32_t alleles(std::int32_t marker) const {
    return allele_counts_[static_cast<std::size_t>(marker)];
  }
  MarkerColumns& marker(std::int32_t m) { return markers_[static_cast<std::size_t>(m)]; }
  const MarkerColumns& marker(std::int32_t m) const {
    return markers_[static_cast<std::size_t>(m)];
  }
  Genotype true_genotype(std::int32_t animal, std::int32_t m = 0) const {
    const MarkerColumns& c = marker(m);
    return {c.true_first[animal], c.true_second[animal]};
  }
  Genotype recorded_genotype(std::int32_t animal, std::int32_t m = 0) const {
    const MarkerColumns& c = marker(m);
    return {c.recorded_first[animal], c.recorded_second[animal]};
  }

  // Per animal: 1 when its genotype records were removed (at every marker).
  CodeColumn lost;

 private:
  std::vector<MarkerColumns> markers_;
  std::vector<std::int32_t> allele_counts_;
};

}  // namespace pedsim
