#pragma once

#include <cstdint>

#include "pedsim/simulation.hpp"
#include "platform/helper_thread.hpp"
#include "random/uniform_stream.hpp"

namespace pedsim {

// The loss threshold of an animal born in generation `born` of a run of
// `generations`: its age factor generations - born + 1 (1 for the newest
// generation) times the model's loss step, in double precision. A draw at or
// below it removes the record.
double loss_threshold(std::int32_t generations, std::int32_t born, double loss_step);

// Records every row's true genotype, then removes each record at random with
// its age's probability: one draw per row, in row order, whatever the outcome.
void lose_genotypes(std::int32_t generations, const Model& model, const Pedigree& pedigree,
                    GenotypeStore& genotypes, UniformStream& stream, HelperThread& helper);

}  // namespace pedsim
