#pragma once

#include <vector>

#include "pedsim/simulation.hpp"

namespace pedsim {

// Sample mix-ups: each genotyped animal is drawn with probability `share`
// (a stream per animal on the sample-swap layer), the drawn animals are
// shuffled (the layer's own draws) and paired in that order, an odd one
// left as it is, and each pair's records are exchanged in `panel`. Returns
// the pedigree's changes with the swapped animals added, in animal order.
std::vector<PedigreeChange> swap_samples(Panel& panel, const Pedigree& pedigree,
                                         std::vector<PedigreeChange> changes, double share,
                                         const Seed& seed);

}  // namespace pedsim
