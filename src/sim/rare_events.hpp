#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

#include "pedsim/markers.hpp"
#include "random/layer_words.hpp"
#include "sim/panel_kernels.hpp"

namespace pedsim {

// The probability of RowEvents where every cell has p_max: no cell's own
// probability is looked up.
struct SameForEveryCell {};

// The events along one row of cells, each cell with its own probability
// p(m), at most p_max: the gap to the next candidate cell is geometric of
// rate p_max, and a candidate whose p(m) is below p_max becomes an event
// when its number u (of 2^32) is below p(m) / p_max x 2^32. Candidate k
// takes number k of the `gaps` stream for its gap and number k of the
// `draws` stream for u, which the event is then handed scaled back to the
// full range (below the bound it is itself uniform); so the numbers go with
// the events, not the cells, and are had a vector at a time. Without
// `draws`, p must be p_max everywhere and the events take no number.
//
// The cells of a row are the markers of a map. Those of a part of a map (a
// run split by chromosome) are the whole map's, as many numbers drawn: the
// events of the part's markers are those of the whole run, handed on by the
// part's numbers of them, and the other events are passed over.
class RowEvents {
 public:
  RowEvents(const std::array<std::uint32_t, 2>& key, std::uint32_t gaps_lane,
            std::uint32_t draws_lane, bool draws, const MarkerMap& map)
      : key_(key), gaps_lane_(gaps_lane), draws_lane_(draws_lane), draws_(draws) {
    if (!map.is_part()) return;
    part_of_whole_.assign(static_cast<std::size_t>(map.in_whole(map.size() - 1)) + 1, -1);
    for (std::int32_t m = 0; m < map.size(); ++m) {
      part_of_whole_[static_cast<std::size_t>(map.in_whole(m))] = m;
    }
  }

  // on(cells, draws, count) for the events of each batch of candidates, in
  // order (each draw 0 without `draws`).
  template <class Probability, class OnBatch>
  void for_each_batch(std::uint32_t row, std::int32_t n, double p_max, Probability&& p,
                      OnBatch&& on) {
    if (!(p_max > 0)) return;
    const bool part = !part_of_whole_.empty();
    if (part) n = static_cast<std::int32_t>(part_of_whole_.size());
    const bool every_cell = p_max >= 1;
    const double scale = every_cell ? 0 : 1 / std::log1p(-p_max);
    // Most rows' candidates in one batch: the mean and four deviations.
    const double expected = std::min(p_max * n, 4096.0);
    const auto batch = static_cast<std::size_t>(expected + 4 * std::sqrt(expected) + 8) / 4 * 4 + 4;
    event_cells_.resize(batch);
    event_draws_.resize(batch);
    std::uint32_t block = 0;
    for (std::int64_t m = -1;;) {
      fill(row, block, batch, scale);
      std::size_t count = 0;
      bool row_done = false;
      for (std::size_t k = 0; k < batch; ++k) {
        m += 1 + (every_cell ? 0 : gaps_[k]);
        if (m >= n) {
          row_done = true;
          break;
        }
        const auto cell =
            part ? part_of_whole_[static_cast<std::size_t>(m)] : static_cast<std::int32_t>(m);
        if (cell < 0) continue;
        std::uint32_t u = draws_ ? numbers_[k] : 0;
        if constexpr (!std::is_same_v<std::decay_t<Probability>, SameForEveryCell>) {
          const double here = p(cell);
          if (here < p_max) {
            const double bound = here / p_max * 0x1p32;
            if (u >= bound) continue;
            u = static_cast<std::uint32_t>(u * (0x1p32 / bound));
          }
        }
        event_cells_[count] = cell;
        event_draws_[count] = u;
        ++count;
      }
      on(event_cells_.data(), event_draws_.data(), count);
      if (row_done) return;
      block += static_cast<std::uint32_t>(batch / 4);
    }
  }

  // on(cell, draw) for each event along the row, in order.
  template <class Probability, class OnEvent>
  void for_each(std::uint32_t row, std::int32_t n, double p_max, Probability&& p, OnEvent&& on) {
    for_each_batch(row, n, p_max, std::forward<Probability>(p),
                   [&](const std::int32_t* cells, const std::uint32_t* draws, std::size_t count) {
                     for (std::size_t k = 0; k < count; ++k) on(cells[k], draws[k]);
                   });
  }

 private:
  void fill(std::uint32_t row, std::uint32_t block, std::size_t batch, double scale) {
    words_.resize(batch / 2);
    fill_layer_words(key_, row, gaps_lane_, block, words_.data(), batch / 4);
    gaps_.resize(batch);
    geometric_gaps(reinterpret_cast<const std::uint32_t*>(words_.data()), batch, scale,
                   gaps_.data());
    if (!draws_) return;
    fill_layer_words(key_, row, draws_lane_, block, words_.data(), batch / 4);
    numbers_ = reinterpret_cast<const std::uint32_t*>(words_.data());
  }

  std::array<std::uint32_t, 2> key_;
  std::uint32_t gaps_lane_;
  std::uint32_t draws_lane_;
  bool draws_;
  std::vector<std::uint64_t> words_;
  std::vector<std::uint32_t> gaps_;
  const std::uint32_t* numbers_ = nullptr;
  // The batch's events and their numbers, handed on.
  std::vector<std::int32_t> event_cells_;
  std::vector<std::uint32_t> event_draws_;
  // A part's marker at each marker of the whole map, -1 where it has none.
  std::vector<std::int32_t> part_of_whole_;
};

}  // namespace pedsim
