#include "core/parents.hpp"

#include <future>
#include <span>

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

// From this many candidates on, the two shuffles run on two threads.
constexpr std::size_t kParallelCandidates = std::size_t{1} << 17;

}  // namespace

void parents(Run& run) {
  list_new_candidates(run);
  auto& store = run.selection;
  const std::span sires(run.IS.begin(), run.IS.end());
  const std::span dams(run.ID.begin(), run.ID.end());
  // The female keys follow the male keys in the stream; jumped there, the
  // two shuffles are independent, and long ones run side by side.
  UniformStream female_stream = run.stream;
  female_stream.jump(store.males.size());
  if (store.males.size() + store.females.size() < kParallelCandidates) {
    shuffle_prefix(store.males, sires, run.stream, store.shuffle);
  } else {
    auto males_done =
        std::async(std::launch::async, [&store, sires, stream = run.stream]() mutable {
          shuffle_prefix(store.males, sires, stream, store.shuffle);
        });
    shuffle_prefix(store.females, dams, female_stream, store.female_shuffle);
    males_done.get();
    run.stream = female_stream;
    return;
  }
  shuffle_prefix(store.females, dams, female_stream, store.shuffle);
  run.stream = female_stream;
}

}  // namespace pedsim
