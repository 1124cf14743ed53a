#pragma once

#include "random/layer_stream.hpp"

namespace pedsim {

// A Gamma(shape, 1) number (shape > 0).
double gamma_number(LayerStream& stream, double shape);

// A Beta number of the given mean (0 < mean < 1) and concentration (alpha +
// beta); a mean of 0 or 1 gives itself.
double beta_number(LayerStream& stream, double mean, double concentration);

}  // namespace pedsim
