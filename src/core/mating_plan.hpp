#pragma once

#include <cstdint>
#include <vector>

#include "core/large_memory.hpp"

namespace pedsim {

// One mating of a generation as settled before any number is drawn: the sire
// actually used and the parents' genotype codes (-1 when either parent's
// genotype is not one of the six, so that nothing is transmitted).
struct PlannedMating {
  std::int32_t sire;
  std::int8_t sire_code;
  std::int8_t dam_code;
};

// The plan of the generation being bred and the stream integers its matings
// draw, one buffer for each half of a generation bred on two threads; kept
// so that every generation reuses their memory.
using MatingDraws = std::vector<std::uint32_t, ScratchAllocator<std::uint32_t>>;
struct MatingPlan {
  std::vector<PlannedMating, ScratchAllocator<PlannedMating>> matings;
  MatingDraws draws[2];
};

}  // namespace pedsim
