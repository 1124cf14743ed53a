#pragma once

#include <cstdint>

#include "pedsim/pedsim.hpp"
#include "platform/side_by_side.hpp"
#include "random/uniform_stream.hpp"

namespace pedsim {

// The step of the loss probability per generation of age: the
// single-precision 0.1 held as a double, 0.10000000149011612.
inline constexpr double kLossRate = static_cast<double>(0.1F);

// The loss threshold of an animal born in generation `born` of a run of
// `generations`: its age factor generations - born + 1 (1 for the newest
// generation) times the loss rate, in double precision. A draw at or below
// it removes the record.
double loss_threshold(std::int32_t generations, std::int32_t born);

// Records every row's true genotype, then removes each record at random with
// its age's probability: one draw per row, in row order, whatever the outcome.
void lose_genotypes(std::int32_t generations, const Pedigree& pedigree, GenotypeStore& genotypes,
                    UniformStream& stream, HelperThread& helper);

}  // namespace pedsim
