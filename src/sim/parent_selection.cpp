#include "sim/parent_selection.hpp"

#include <span>

namespace pedsim {

namespace {

// Appends the rows created since the last call to the candidate lists, in
// row order; rows whose sex code is neither male nor female belong to no list.
void list_new_candidates(const Pedigree& pedigree, Candidates& candidates) {
  const auto rows = static_cast<std::size_t>(pedigree.rows());
  auto& males = candidates.males;
  auto& females = candidates.females;
  if (males.capacity() < rows) {
    // Address space only: pages are touched as the lists grow, and growing
    // never copies.
    males.reserve(rows);
    females.reserve(rows);
  }
  // Each row is written to the end of both lists and kept by the one of its
  // sex: sexes are random, and a branch on them would be mispredicted half
  // the time.
  const std::int32_t first = candidates.rows_listed + 1;
  const std::int32_t last = pedigree.created();
  const auto new_rows = static_cast<std::size_t>(last - candidates.rows_listed);
  const std::size_t male_count = males.size();
  const std::size_t female_count = females.size();
  males.resize(male_count + new_rows);
  females.resize(female_count + new_rows);
  std::int32_t* male_end = males.data() + male_count;
  std::int32_t* female_end = females.data() + female_count;
  const std::int8_t* sex = pedigree.sex.begin() - 1;
  for (std::int32_t i = first; i <= last; ++i) {
    *male_end = i;
    *female_end = i;
    male_end += sex[i] == kMale ? 1 : 0;
    female_end += sex[i] == kFemale ? 1 : 0;
  }
  males.resize(static_cast<std::size_t>(male_end - males.data()));
  females.resize(static_cast<std::size_t>(female_end - females.data()));
  candidates.rows_listed = pedigree.created();
}

}  // namespace

void select_parents(const Pedigree& pedigree, Candidates& candidates, ParentLists& parents,
                    UniformStream& stream, HelperThread& helper) {
  list_new_candidates(pedigree, candidates);
  shuffle_prefixes_in_turn(candidates.males, std::span(parents.sires.begin(), parents.sires.end()),
                           candidates.females, std::span(parents.dams.begin(), parents.dams.end()),
                           stream, candidates.shuffle, helper);
}

void skip_parent_selection(const Pedigree& pedigree, UniformStream& stream) {
  std::uint64_t candidates = 0;
  for (std::int32_t i = 1; i <= pedigree.created(); ++i) {
    candidates += pedigree.sex[i] == kMale || pedigree.sex[i] == kFemale ? 1 : 0;
  }
  stream.jump(candidates);
}

}  // namespace pedsim
