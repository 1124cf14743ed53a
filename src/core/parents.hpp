#pragma once

#include "core/run.hpp"

namespace pedsim {

// Chooses the sires and dams of the next generation from every animal created
// so far: the male candidates (rows 1..lastanimal in row order) are shuffled
// and the first `male` become IS; then the female candidates likewise give the
// first `female` as ID. Draws one number per candidate, males first.
void parents(Run& run);

// Takes the numbers that parents() would draw, one per candidate, without
// choosing: for the call after the last generation, whose lists are never
// used.
void skip_parents(Run& run);

}  // namespace pedsim
