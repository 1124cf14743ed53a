#pragma once

#include <cstdint>
#include <vector>

#include "pedsim/simulation.hpp"
#include "platform/helper_thread.hpp"
#include "platform/large_memory.hpp"
#include "random/uniform_stream.hpp"
#include "sim/parent_lists.hpp"

namespace pedsim {

// The mating rule: the position in the sire list of the sire that mates
// `dam` in sire block `s`. The next position (wrapping to 1) when the
// block's sire is the dam's sire or the dam is his mother, else `s` itself;
// the moved-to sire is not tested again.
std::int32_t sire_position(const Pedigree& pedigree, const ParentLists& parents, std::int32_t s,
                           std::int32_t dam);

// One mating of a generation as settled before any number is drawn: the sire
// actually used and the parents' genotype codes (-1 when either parent's
// genotype is not one of the six, so that nothing is transmitted). The codes
// are 16-bit, not bytes: a store of a byte may, as far as the compiler knows,
// change anything, and planning would read every column's address again
// after each.
struct PlannedMating {
  std::int32_t sire;
  std::int16_t sire_code;
  std::int16_t dam_code;
};

// Buffers of the generation being bred, kept so that every generation reuses
// their memory: its planned matings and the stream integers they draw (one
// buffer for each half of a generation bred in two halves).
struct MatingScratch {
  using Draws = std::vector<std::uint32_t, ScratchAllocator<std::uint32_t>>;
  std::vector<PlannedMating, ScratchAllocator<PlannedMating>> matings;
  Draws draws[2];
};

// Breeds generation g: each sire of the sire list is mated with
// `dams_per_sire` consecutive dams of the dam list (subject to the mating
// rule), each mating creating the next row of the pedigree with its parents,
// generation, a transmitted genotype at marker 0 (none or one draw) and a sex
// (one draw: female above the model's male probability), until the table is
// full. Returns the number of offspring.
std::int32_t mate_generation(const Parameters& parameters, const Model& model, Pedigree& pedigree,
                             GenotypeStore& genotypes, const ParentLists& parents,
                             UniformStream& stream, MatingScratch& scratch, std::int32_t g,
                             HelperThread& helper);

}  // namespace pedsim
