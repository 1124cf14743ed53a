#pragma once

#include <cstdint>
#include <vector>

#include "pedsim/simulation.hpp"

namespace pedsim {

// Per marker, the copies of each allele among the true genotypes of every
// bred animal, and how many of the first `founders` animals are
// heterozygous: read animal by animal, each row once in order.
struct AlleleTally {
  std::int32_t alleles = 0;
  // Marker m's copies of allele a (1..K) at m * (alleles + 1) + a.
  std::vector<std::int64_t> copies;
  std::vector<std::int64_t> heterozygous;
  std::int64_t of(std::int32_t marker, std::int32_t allele) const {
    return copies[static_cast<std::size_t>(marker) * static_cast<std::size_t>(alleles + 1) +
                  static_cast<std::size_t>(allele)];
  }
};
AlleleTally tally_alleles(const Panel& panel, std::int32_t founders);

// Per marker, the bred animals that carry it, and the copies they carry
// (twice the animals but on X, Y and MT).
struct Carried {
  std::vector<std::int64_t> carriers;
  std::vector<std::int64_t> copies;
};
Carried carried_by_marker(const Panel& panel);

}  // namespace pedsim
