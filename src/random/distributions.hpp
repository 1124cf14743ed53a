#pragma once

#include <cstdint>

#include "random/layer_stream.hpp"

namespace pedsim {

// A Gamma(shape, 1) number (shape > 0).
double gamma_number(LayerStream& stream, double shape);

// A Beta number of the given mean (0 < mean < 1) and concentration (alpha +
// beta); a mean of 0 or 1 gives itself.
double beta_number(LayerStream& stream, double mean, double concentration);

// The number of failures before the first success of trials that succeed
// with probability p (0 < p < 1), from one uniform number; as large as the
// counts go when it would not fit.
std::int64_t geometric_gap(double uniform, double log_of_failure);

}  // namespace pedsim
