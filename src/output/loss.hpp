#pragma once

#include <cstdint>

#include "core/run.hpp"

namespace pedsim {

// The loss threshold of a row: its age factor k = ngen - IV7 + 1 times
// lossrate, in double precision. A draw at or below it removes the record.
double loss_threshold(const Run& run, std::int32_t row);

// Records every row's true genotype, then removes each record at random with
// the age-dependent probability: one draw per row, in row order, whatever the
// outcome.
void randomloss(Run& run);

}  // namespace pedsim
