#include "output/loss.hpp"

namespace pedsim {

double loss_threshold(const Run& run, std::int32_t row) {
  const std::int64_t k = std::int64_t{run.ngen} - run.IV7[row] + 1;
  return static_cast<double>(k) * run.lossrate;
}

void randomloss(Run& run) {
  for (std::int32_t i = 1; i <= run.ntot; ++i) {
    run.GE1[i] = run.IV51[i];
    run.GE2[i] = run.IV52[i];
  }
  for (std::int32_t i = 1; i <= run.ntot; ++i) {
    const double x = run.stream.draw_uniform();
    if (x <= loss_threshold(run, i) && run.VC[i] == 0) {
      run.VC[i] = 1;
      run.GE1[i] = 0;
      run.GE2[i] = 0;
    }
  }
}

}  // namespace pedsim
