#pragma once

#include "pedsim/simulation.hpp"

namespace pedsim {

// pedigree_truth.tsv: a header row, then per animal whose recorded parents
// differ from its true ones or whose records are another animal's sample:
// the animal, its true and recorded sire and dam (0: unknown), the kind
// ("wrong-sire", "missing-dam", "swap", ... joined by ","), and its
// exclusions: the markers at which a recorded parent and the animal, as
// recorded and both called there, share no allele, summed over the
// wrongly recorded parents (over both recorded parents when the animal's
// records were swapped). With --swap, a last column `swapped_with` names
// the animal whose sample the records are (0: not swapped). Names as every
// file but ped.pre gives them.
void write_pedigree_truth(const Simulation& run, ByteSink& out);

}  // namespace pedsim
