#include "core/parents.hpp"

#include <span>
#include <vector>

#include "core/shuffle.hpp"

namespace pedsim {

namespace {

// Appends the rows created since the last call to the candidate lists, in
// row order; rows whose sex code is neither 1 nor 2 belong to no list.
void list_new_candidates(Run& run) {
  auto& store = run.selection;
  const auto rows = static_cast<std::size_t>(run.ntot);
  if (store.males.capacity() < rows) {
    // Address space only: pages are touched as the lists grow, and growing
    // never copies.
    store.males.reserve(rows);
    store.females.reserve(rows);
  }
  for (std::int32_t i = store.rows_listed + 1; i <= run.lastanimal; ++i) {
    if (run.IV4[i] == kMale) store.males.push_back(run.IV1[i]);
    if (run.IV4[i] == kFemale) store.females.push_back(run.IV1[i]);
  }
  store.rows_listed = run.lastanimal;
}

}  // namespace

void parents(Run& run) {
  list_new_candidates(run);
  auto& store = run.selection;
  shuffle_prefix(store.males, std::span(run.IS.begin(), run.IS.end()), run.stream, store.shuffle);
  shuffle_prefix(store.females, std::span(run.ID.begin(), run.ID.end()), run.stream, store.shuffle);
}

}  // namespace pedsim
