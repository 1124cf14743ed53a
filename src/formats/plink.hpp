#pragma once

#include "formats/genotype_view.hpp"
#include "pedsim/simulation.hpp"

namespace pedsim {

// PLINK 1 binary files of a two-allele panel. ped.bed is SNP-major: per
// marker, two bits per animal, 00 two copies of the .bim's A1 (allele 2,
// "C"), 10 one copy, 11 none (two copies of A2, allele 1, "A"), 01 missing.
void write_bed(const Simulation& run, Genotypes genotypes, ByteSink& out);
// Chromosome, marker name, centimorgans, base pair, A1 (allele 2), A2 (allele 1).
void write_bim(const Simulation& run, Genotypes genotypes, ByteSink& out);
// Family "1", animal, sire, dam (0: unknown), sex (1 male, 2 female), -9.
void write_fam(const Simulation& run, Genotypes genotypes, ByteSink& out);

}  // namespace pedsim
