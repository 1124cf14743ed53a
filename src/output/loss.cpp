#include "output/loss.hpp"

#include <algorithm>
#include <vector>

namespace pedsim {

namespace {

// Rows whose draws are made at once, by the stream's lanes, into a buffer
// that stays in the cache.
constexpr std::int32_t kLossBlock = 16 * 4099;

}  // namespace

double loss_threshold(const Run& run, std::int32_t row) {
  const std::int64_t k = std::int64_t{run.ngen} - run.IV7[row] + 1;
  return static_cast<double>(k) * run.lossrate;
}

void randomloss(Run& run) {
  // Every row's record starts as its true genotype and loses it on a draw at
  // or below its threshold; the copy draws nothing, so it is made row by row
  // together with the test.
  std::vector<std::uint32_t> draws(static_cast<std::size_t>(std::clamp(run.ntot, 0, kLossBlock)));
  for (std::int32_t first = 1; first <= run.ntot; first += kLossBlock) {
    const std::int32_t size = std::min(kLossBlock, run.ntot - first + 1);
    run.stream.fill_z(std::span(draws).first(static_cast<std::size_t>(size)));
    for (std::int32_t j = 0; j < size; ++j) {
      const std::int32_t i = first + j;
      const double x = UniformStream::to_uniform(static_cast<std::int32_t>(draws[j]));
      const bool lost = x <= loss_threshold(run, i) && run.VC[i] == 0;
      if (lost) run.VC[i] = 1;
      run.GE1[i] = lost ? 0 : run.IV51[i];
      run.GE2[i] = lost ? 0 : run.IV52[i];
    }
  }
}

}  // namespace pedsim
