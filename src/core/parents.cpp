#include "core/parents.hpp"

#include <span>
#include <vector>

#include "core/shuffle.hpp"

namespace pedsim {

namespace {

std::vector<std::int32_t> candidates_of_sex(const Run& run, std::int32_t sex) {
  std::vector<std::int32_t> list;
  for (std::int32_t i = 1; i <= run.lastanimal; ++i) {
    if (run.IV4[i] == sex) list.push_back(run.IV1[i]);
  }
  return list;
}

}  // namespace

void parents(Run& run) {
  const auto males = candidates_of_sex(run, kMale);
  const auto females = candidates_of_sex(run, kFemale);
  shuffle_prefix(males, std::span(run.IS.begin(), run.IS.end()), run.stream);
  shuffle_prefix(females, std::span(run.ID.begin(), run.ID.end()), run.stream);
}

}  // namespace pedsim
