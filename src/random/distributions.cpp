#include "random/distributions.hpp"

#include <cmath>
#include <numbers>

namespace pedsim {

namespace {

// A standard normal number (Box and Muller's cosine).
double normal(LayerStream& stream) {
  const double radius = std::sqrt(-2 * std::log(stream.next_uniform()));
  return radius * std::cos(2 * std::numbers::pi * stream.next_uniform());
}

}  // namespace

// Marsaglia and Tsang's squeeze for shape >= 1, and for smaller shapes
// Gamma(shape + 1) x U^(1/shape).
double gamma_number(LayerStream& stream, double shape) {
  if (shape < 1) {
    return gamma_number(stream, shape + 1) * std::pow(stream.next_uniform(), 1 / shape);
  }
  const double d = shape - 1.0 / 3;
  const double c = 1 / std::sqrt(9 * d);
  for (;;) {
    const double x = normal(stream);
    const double v = std::pow(1 + c * x, 3);
    if (v <= 0) continue;
    const double u = stream.next_uniform();
    if (std::log(u) < x * x / 2 + d - d * v + d * std::log(v)) return d * v;
  }
}

double beta_number(LayerStream& stream, double mean, double concentration) {
  if (mean <= 0 || mean >= 1) return mean;
  const double x = gamma_number(stream, mean * concentration);
  const double y = gamma_number(stream, (1 - mean) * concentration);
  // Both so small that they underflow: the mean is the best guess.
  return x + y > 0 ? x / (x + y) : mean;
}

}  // namespace pedsim
