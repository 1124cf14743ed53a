#pragma once

#include <cstdint>
#include <vector>

#include "pedsim/simulation.hpp"
#include "platform/large_memory.hpp"
#include "random/uniform_stream.hpp"
#include "sim/parent_lists.hpp"
#include "sim/shuffle.hpp"

namespace pedsim {

// Every animal created so far, by sex, in row order: the candidates of
// parent selection. Kept between generations, since rows never change sex
// once created: each selection only appends the rows created since the
// previous one.
struct Candidates {
  std::vector<std::int32_t, ScratchAllocator<std::int32_t>> males;
  std::vector<std::int32_t, ScratchAllocator<std::int32_t>> females;
  std::int32_t rows_listed = 0;
  ShufflePairScratch shuffle;
};

// Chooses the sires and dams of the next generation from every animal
// created so far, founders included: the male candidates are shuffled and
// the first `males` become the sire list, then the female candidates
// likewise give the dam list. Draws one number per candidate, males first.
void select_parents(const Pedigree& pedigree, Candidates& candidates, ParentLists& parents,
                    UniformStream& stream, HelperThread& helper);

// Takes the numbers that select_parents would draw, one per candidate,
// without choosing: after the last generation, whose lists are never used.
void skip_parent_selection(const Pedigree& pedigree, UniformStream& stream);

}  // namespace pedsim
