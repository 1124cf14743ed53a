#include "core/founders.hpp"

#include <algorithm>
#include <array>
#include <span>
#include <vector>

namespace pedsim {

namespace {

struct FounderClass {
  double upper;  // the class takes every draw up to and including this value
  Genotype genotype;
};

// Cumulative shares 1/9, 1/3, 5/9, 2/3, 8/9, each the single-precision value
// of the fraction widened to double (slightly above the exact fraction).
constexpr std::array<FounderClass, 5> kFounderClasses{{
    {static_cast<double>(1.0F / 9.0F), {1, 1}},
    {static_cast<double>(1.0F / 3.0F), {1, 2}},
    {static_cast<double>(5.0F / 9.0F), {1, 3}},
    {static_cast<double>(2.0F / 3.0F), {2, 2}},
    {static_cast<double>(8.0F / 9.0F), {2, 3}},
}};

// Founders whose numbers are drawn at once, through the stream's lanes, into
// a buffer that stays in the cache.
constexpr std::int32_t kFounderBlock = 16 * 4099;

}  // namespace

Genotype founder_genotype(double x) {
  for (const auto& c : kFounderClasses) {
    if (x <= c.upper) return c.genotype;
  }
  return {3, 3};
}

void create_founders(Run& run) {
  std::vector<std::uint32_t> draws(static_cast<std::size_t>(std::clamp(run.n, 0, kFounderBlock)));
  for (std::int32_t first = 1; first <= run.n; first += kFounderBlock) {
    const std::int32_t size = std::min(kFounderBlock, run.n - first + 1);
    run.stream.fill_z(std::span(draws).first(static_cast<std::size_t>(size)));
    for (std::int32_t j = 0; j < size; ++j) {
      const std::int32_t i = first + j;
      const Genotype g =
          founder_genotype(UniformStream::to_uniform(static_cast<std::int32_t>(draws[j])));
      run.SEX[i] = i <= run.male ? kMale : kFemale;
      run.GEN1[i] = g.first;
      run.GEN2[i] = g.second;
      run.IV4[i] = run.SEX[i];
      run.IV51[i] = run.GEN1[i];
      run.IV52[i] = run.GEN2[i];
    }
  }
  for (std::int32_t k = 1; k <= run.male; ++k) run.IS[k] = run.IV1[k];
  for (std::int32_t k = 1; k <= run.female; ++k) run.ID[k] = run.IV1[run.male + k];
}

}  // namespace pedsim
