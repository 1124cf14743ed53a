#pragma once

#include "pedsim/pedsim.hpp"
#include "random/uniform_stream.hpp"
#include "sim/parent_lists.hpp"

namespace pedsim {

// The founder genotype for one draw: Hardy-Weinberg proportions for three
// alleles of frequency 1/3, with single-precision thresholds; a draw equal to
// a threshold belongs to the genotype that the threshold closes.
Genotype founder_genotype(double x);

// Creates founders 1..founders in the pedigree, one draw each in order (the
// first `males` are male, the rest female) for their genotype at marker 0,
// and lists them as the first sires and dams in that order.
void create_founders(const Parameters& parameters, Pedigree& pedigree, GenotypeStore& genotypes,
                     UniformStream& stream, ParentLists& parents);

}  // namespace pedsim
