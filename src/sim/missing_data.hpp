#pragma once

#include "pedsim/pedsim.hpp"
#include "platform/side_by_side.hpp"

namespace pedsim {

// Which genotypes of the panel are missing, drawn from the missing-data
// layer's streams. The design's model: an animal whose records the design's
// age schedule removed has none. The random model: each genotype is called
// with probability c_m x s_i, marker m's rate times animal i's (each c
// without its spread, drawn from a Beta distribution of mean c with one,
// and of mean sqrt(c) each with both), the rarer of called and missing
// genotypes placed by gaps. Either way, a share of the parents (rounded)
// chosen at random lose every genotype with --ungenotyped-parents.
void apply_missing_model(const Pedigree& pedigree, const GenotypeStore& design,
                         const RecordOptions& options, const Seed& seed, Panel& panel,
                         HelperThread& helper);

}  // namespace pedsim
