#pragma once

#include <cmath>
#include <cstdint>

#include "random/distributions.hpp"
#include "random/layer_stream.hpp"

namespace pedsim {

// Visits the cells 0..n-1 of a row at which an event happens, each cell
// with its own probability p(m), at most p_max: the gap to the next
// candidate cell is geometric of rate p_max, and a candidate whose p(m) is
// below p_max becomes an event with probability p(m) / p_max. The numbers
// drawn go with the events, not the cells. `on(m)` may draw numbers of its
// own from the stream: they are part of the event.
template <class Probability, class OnEvent>
void for_each_event(LayerStream& stream, std::int32_t n, double p_max, Probability&& p,
                    OnEvent&& on) {
  if (!(p_max > 0)) return;
  const bool every_cell = p_max >= 1;
  const double log_failure = every_cell ? 0 : std::log1p(-p_max);
  for (std::int64_t m = -1;;) {
    m += 1 + (every_cell ? 0 : geometric_gap(stream.next_uniform(), log_failure));
    if (m >= n) return;
    const double here = p(static_cast<std::int32_t>(m));
    if (here < p_max && stream.next_uniform() * p_max >= here) continue;
    on(static_cast<std::int32_t>(m));
  }
}

}  // namespace pedsim
