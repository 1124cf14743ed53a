#pragma once

#include "pedsim/pedsim.hpp"

namespace pedsim {

// The records of a run with a marker panel: "ped.pre" in the LINKAGE layout
// (animal, sire, dam, sex, then the two recorded alleles of each marker,
// each a file field), "ped.errors" with a row per altered genotype (the
// animal, its first allele before, the marker's name) and the console line
// of each animal with an altered genotype.
void write_panel_outputs(const Pedigree& pedigree, const Panel& panel, const OutputSinks& outputs);

// Every row in the layout of "ped.pre" with the true genotypes of every
// marker (the design's marker alone when the run has no panel).
void write_true_genotypes(const Simulation& run, ByteSink& out);

}  // namespace pedsim
