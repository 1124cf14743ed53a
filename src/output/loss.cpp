#include "output/loss.hpp"

#include <algorithm>
#include <future>
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

namespace {

// Decides rows first..last, drawing from `stream`, which stands at row
// first's draw. Every row's record starts as its true genotype and loses it
// on a draw at or below its threshold; the copy draws nothing, so it is made
// row by row together with the test.
void thin_rows(Run& run, UniformStream& stream, std::int32_t first, std::int32_t last) {
  std::vector<std::uint32_t> draws(
      static_cast<std::size_t>(std::clamp(last - first + 1, 0, kLossBlock)));
  for (std::int32_t begin = first; begin <= last; begin += kLossBlock) {
    const std::int32_t size = std::min(kLossBlock, last - begin + 1);
    stream.fill_z(std::span(draws).first(static_cast<std::size_t>(size)));
    for (std::int32_t j = 0; j < size; ++j) {
      const std::int32_t i = begin + j;
      const double x = UniformStream::to_uniform(static_cast<std::int32_t>(draws[j]));
      const bool lost = x <= loss_threshold(run, i) && run.VC[i] == 0;
      if (lost) run.VC[i] = 1;
      run.GE1[i] = lost ? 0 : run.IV51[i];
      run.GE2[i] = lost ? 0 : run.IV52[i];
    }
  }
}

// From this many rows on, the two halves of the table are thinned side by
// side, the second from the stream jumped past the first half's draws.
constexpr std::int32_t kParallelLossRows = 1 << 18;

}  // namespace

void randomloss(Run& run) {
  if (run.ntot < kParallelLossRows) {
    thin_rows(run, run.stream, 1, run.ntot);
    return;
  }
  const std::int32_t half = run.ntot / 2;
  UniformStream second = run.stream;
  second.jump(static_cast<std::uint64_t>(half));
  auto second_done = std::async(
      std::launch::async, [&run, &second, half] { thin_rows(run, second, half + 1, run.ntot); });
  thin_rows(run, run.stream, 1, half);
  second_done.get();
  run.stream = second;
}

}  // namespace pedsim
