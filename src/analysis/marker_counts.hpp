#pragma once

#include <cstdint>
#include <vector>

#include "analysis/allele_tally.hpp"
#include "pedsim/marker_statistics.hpp"
#include "pedsim/simulation.hpp"

namespace pedsim {

// What the per-marker statistics are made of, counted in one walk each:
// the true alleles' copies and the founders' heterozygotes, the called and
// altered genotypes, and the genotypes that conflict with their parents'.
struct MarkerCounts {
  std::int32_t founders = 0;
  // Per marker, the bred animals that carry it, and the copies they carry
  // (twice the animals but on X, Y and MT).
  std::vector<std::int64_t> carriers;
  std::vector<std::int64_t> copies;
  AlleleTally tally;
  std::vector<std::int64_t> called;
  std::vector<std::int64_t> altered;
  std::vector<std::int64_t> inconsistent;
};

// `inconsistent`: the panel's count per marker (PanelCounts), which the
// caller may already hold.
MarkerCounts count_markers(const Simulation& run, std::vector<std::int64_t> inconsistent);

// The table from counts already made.
MarkerTable marker_table(const MarkerCounts& counts);

}  // namespace pedsim
