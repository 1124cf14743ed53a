#pragma once

#include <cstdint>

#include "core/run.hpp"

namespace pedsim {

// The sire position actually used when dam `d` is mated in sire block `s`: the
// next position (wrapping to 1) when the block's sire is the dam's sire or the
// dam is his mother, else `s` itself. The moved-to sire is not tested again.
std::int32_t sire_position(const Run& run, std::int32_t s, std::int32_t d);

// The matings of generation g: each sire of IS with `ratio` consecutive dams
// of ID, one offspring per mating, ending early when the table is full.
void mate_generation(Run& run, std::int32_t g);

// Breeds generation g: prints its line, mates each sire of IS with `ratio`
// consecutive dams of ID (one offspring per mating, until the table is
// full), then chooses the parents of the next generation (after the last
// generation, only takes the numbers that choice draws).
void breed_generation(Run& run, std::int32_t g);

// Breeds generations 1..ngen.
void breed_generations(Run& run);

}  // namespace pedsim
