#include "sim/parent_selection.hpp"

#include <span>

namespace pedsim {

namespace {

// Appends the rows created since the last call to the candidate lists, in
// row order; rows whose sex code is neither male nor female belong to no list.
void list_new_candidates(const Pedigree& pedigree, Candidates& candidates) {
  const auto rows = static_cast<std::size_t>(pedigree.rows());
  if (candidates.males.capacity() < rows) {
    // Address space only: pages are touched as the lists grow, and growing
    // never copies.
    candidates.males.reserve(rows);
    candidates.females.reserve(rows);
  }
  for (std::int32_t i = candidates.rows_listed + 1; i <= pedigree.created(); ++i) {
    if (pedigree.sex[i] == kMale) candidates.males.push_back(i);
    if (pedigree.sex[i] == kFemale) candidates.females.push_back(i);
  }
  candidates.rows_listed = pedigree.created();
}

}  // namespace

void select_parents(const Pedigree& pedigree, Candidates& candidates, ParentLists& parents,
                    UniformStream& stream) {
  list_new_candidates(pedigree, candidates);
  shuffle_prefixes_in_turn(candidates.males, std::span(parents.sires.begin(), parents.sires.end()),
                           candidates.females, std::span(parents.dams.begin(), parents.dams.end()),
                           stream, candidates.shuffle);
}

void skip_parent_selection(const Pedigree& pedigree, UniformStream& stream) {
  std::uint64_t candidates = 0;
  for (std::int32_t i = 1; i <= pedigree.created(); ++i) {
    candidates += pedigree.sex[i] == kMale || pedigree.sex[i] == kFemale ? 1 : 0;
  }
  stream.jump(candidates);
}

}  // namespace pedsim
