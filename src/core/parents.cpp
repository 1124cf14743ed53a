#include "core/parents.hpp"

#include <algorithm>
#include <exception>
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

// Selecting a kept key costs about this many times as much as drawing and
// testing a key; it sets how the work is shared between the two threads.
constexpr std::size_t kSelectionCostPerKey = 5;

// How many of the female keys, from the first, the helper thread draws and
// tests before the male shuffle, so that both threads have about as much
// to do: the female shuffle selects more entries from a longer list. At
// most half, so that the helper's part is ready when the rest is.
std::size_t female_keys_for_helper(std::size_t males, std::size_t females, std::size_t sires,
                                   std::size_t dams) {
  const std::size_t female_work = females + kSelectionCostPerKey * dams;
  const std::size_t male_work = males + kSelectionCostPerKey * sires;
  if (female_work <= male_work) return 0;
  return std::min((female_work - male_work) / 2, females / 2);
}

}  // namespace

void parents(Run& run) {
  list_new_candidates(run);
  auto& store = run.selection;
  const std::span sires(run.IS.begin(), run.IS.end());
  const std::span dams(run.ID.begin(), run.ID.end());
  // The female keys follow the male keys in the stream; jumped there, the
  // two shuffles are independent.
  UniformStream female_stream = run.stream;
  female_stream.jump(store.males.size());
  if (store.males.size() + store.females.size() < kParallelCandidates) {
    shuffle_prefix(store.males, sires, run.stream, store.shuffle);
    shuffle_prefix(store.females, dams, female_stream, store.shuffle);
    run.stream = female_stream;
    return;
  }
  // The helper draws and tests the first part of the female keys, then
  // shuffles the males; meanwhile this thread draws and tests the rest of
  // the female keys, takes over the helper's part and selects the dams.
  const std::span<const std::int32_t> females(store.females);
  const std::size_t split =
      female_keys_for_helper(store.males.size(), females.size(), sires.size(), dams.size());
  const std::uint64_t bound = shuffle_key_bound(females.size(), dams.size());
  auto& front = store.female_front;
  auto& back = store.female_shuffle;
  front.kept.clear();
  front.entries.clear();
  back.kept.clear();
  back.entries.clear();
  std::promise<void> front_kept;
  std::future<void> front_ready = front_kept.get_future();
  auto helper = std::async(std::launch::async,
                           [&, male_stream = run.stream, front_stream = female_stream]() mutable {
                             try {
                               keep_drawn_keys(females, 0, split, front_stream, front, bound);
                               front_kept.set_value();
                             } catch (...) {
                               front_kept.set_exception(std::current_exception());
                               throw;
                             }
                             shuffle_prefix(store.males, sires, male_stream, store.shuffle);
                           });
  UniformStream back_stream = female_stream;
  back_stream.jump(split);
  keep_drawn_keys(females, split, females.size(), back_stream, back, bound);
  front_ready.get();
  append_kept(front, back);
  select_from_kept(females, dams, female_stream, front, bound);
  helper.get();
  run.stream = back_stream;
}

void skip_parents(Run& run) {
  std::uint64_t candidates = 0;
  for (std::int32_t i = 1; i <= run.lastanimal; ++i) {
    candidates += run.IV4[i] == kMale || run.IV4[i] == kFemale ? 1 : 0;
  }
  run.stream.jump(candidates);
}

}  // namespace pedsim
