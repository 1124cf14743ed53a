#pragma once

#include "pedsim/pedsim.hpp"

namespace pedsim {

// pedigree_truth.tsv: a header row, then per animal whose recorded parents
// differ from its true ones: the animal, its true and recorded sire and dam
// (0: unknown), the kind ("wrong-sire", "missing-dam", ... joined by ","),
// and its exclusions: the markers at which a wrongly recorded parent and
// the animal, both genotyped there, share no allele (summed over the two
// parents). Names as every file but ped.pre gives them.
void write_pedigree_truth(const Simulation& run, ByteSink& out);

}  // namespace pedsim
