#pragma once

#include <cstdint>
#include <vector>

#include "pedsim/simulation.hpp"

namespace pedsim {

// The records of a run with a marker panel: "ped.pre" in the LINKAGE layout
// (animal, sire, dam, sex, then the two recorded alleles of each marker,
// each a file field), "ped.errors" with a row per altered genotype (the
// animal, its first allele before, the marker's name) and the console line
// of each animal with an altered genotype. Without `error_rows` (an error
// model other than the design's, whose truth is errors.tsv), "ped.errors"
// stays empty.
void write_panel_outputs(const Pedigree& pedigree, const Panel& panel, const OutputSinks& outputs,
                         bool error_rows);

// errors.tsv: a header row, then per altered genotype the animal, the
// marker's name, the true and recorded alleles, the error model and whether
// the error is detectable from parents and offspring (`detectable`: the
// flags of detectable_flags).
void write_error_table(const Simulation& run, const std::vector<std::uint8_t>& detectable,
                       ByteSink& out);

// Every row in the layout of "ped.pre" with the true genotypes of every
// marker (the design's marker alone when the run has no panel).
void write_true_genotypes(const Simulation& run, ByteSink& out);

}  // namespace pedsim
