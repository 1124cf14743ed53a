#pragma once

#include <cstdint>

#include "core/run.hpp"

namespace pedsim {

struct Genotype {
  std::int32_t first = 0;
  std::int32_t second = 0;
  friend bool operator==(const Genotype&, const Genotype&) = default;
};

// The founder genotype for one draw: Hardy-Weinberg proportions for three
// alleles of frequency 1/3, with single-precision thresholds; a draw equal to
// a threshold belongs to the genotype that the threshold closes.
Genotype founder_genotype(double x);

// Creates founders 1..n (one draw each, in order; the first `male` are males)
// and the first sire and dam lists.
void create_founders(Run& run);

}  // namespace pedsim
