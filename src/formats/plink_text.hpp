#pragma once

#include "formats/genotype_view.hpp"
#include "pedsim/simulation.hpp"

namespace pedsim {

// PLINK text files. ped.ped: family "1", animal, sire, dam (0: unknown), sex
// (1 male, 2 female), phenotype -9, then each marker's two alleles as
// letters, "0 0" where nothing was recorded. Any number of alleles is
// written; PLINK itself keeps two per marker.
void write_ped(const Simulation& run, Genotypes genotypes, ByteSink& out);
// Chromosome, marker name, centimorgans, base pair.
void write_map(const Simulation& run, Genotypes genotypes, ByteSink& out);

}  // namespace pedsim
