#pragma once

#include <vector>

#include "pedsim/simulation.hpp"

namespace pedsim {

// Records the pedigree as a herd book with errors would: for each animal
// with a known sire (dam), with probability --missing-sire the sire is
// recorded unknown, else with probability --wrong-sire it is recorded as
// another male drawn evenly from the true sire's generation (or, with
// --wrong-parent-from any, from every male listed before the animal): never
// the animal itself or one of its descendants, which come later in the
// parents-first order. Draws on the pedigree-error layer's stream, a stream
// per animal and parent, from the true pedigree alone. Changes `pedigree`
// to the recorded one and returns the animals whose parents changed.
std::vector<PedigreeChange> record_pedigree_errors(Pedigree& pedigree, const RecordOptions& options,
                                                   const Seed& seed);

}  // namespace pedsim
