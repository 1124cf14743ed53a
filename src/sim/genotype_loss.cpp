#include "sim/genotype_loss.hpp"

#include <vector>

#include "random/draw_blocks.hpp"

namespace pedsim {

double loss_threshold(std::int32_t generations, std::int32_t born, double loss_step) {
  const std::int64_t age_factor = std::int64_t{generations} - born + 1;
  return static_cast<double>(age_factor) * loss_step;
}

namespace {

// Decides rows first..last, drawing from `stream`, which stands at row
// first's draw. Every row's record starts as its true genotype and loses it
// on a draw at or below its threshold; the copy draws nothing, so it is made
// row by row together with the test.
void lose_in_rows(std::int32_t generations, double loss_step, const Pedigree& pedigree,
                  GenotypeStore& genotypes, UniformStream& stream, std::int32_t first,
                  std::int32_t last) {
  MarkerColumns& marker = genotypes.marker(0);
  CodeColumn& lost = genotypes.lost;
  std::vector<std::uint32_t> buffer;
  draw_in_blocks(stream, static_cast<std::size_t>(last - first + 1), buffer,
                 [&](std::size_t offset, std::span<const std::uint32_t> z) {
                   for (std::size_t j = 0; j < z.size(); ++j) {
                     const auto i = static_cast<std::int32_t>(first + offset + j);
                     const double x = UniformStream::to_uniform(static_cast<std::int32_t>(z[j]));
                     const bool removed =
                         x <= loss_threshold(generations, pedigree.born[i], loss_step) &&
                         lost[i] == 0;
                     if (removed) lost[i] = 1;
                     marker.recorded_first[i] = removed ? 0 : marker.true_first[i];
                     marker.recorded_second[i] = removed ? 0 : marker.true_second[i];
                   }
                 });
}

// From this many rows on, the two halves of the table are done side by side
// (each half then takes well over the cost of starting a thread).
constexpr std::int32_t kRowsInHalves = 1 << 15;

}  // namespace

void lose_genotypes(std::int32_t generations, const Model& model, const Pedigree& pedigree,
                    GenotypeStore& genotypes, UniformStream& stream, HelperThread& helper) {
  const std::int32_t rows = pedigree.rows();
  const double step = model.loss_step;
  if (rows < kRowsInHalves) {
    lose_in_rows(generations, step, pedigree, genotypes, stream, 1, rows);
    return;
  }
  const std::int32_t half = rows / 2;
  helper.halves_side_by_side(
      stream, static_cast<std::uint64_t>(half),
      [&](UniformStream& s) { lose_in_rows(generations, step, pedigree, genotypes, s, 1, half); },
      [&](UniformStream& s) {
        lose_in_rows(generations, step, pedigree, genotypes, s, half + 1, rows);
      });
}

}  // namespace pedsim
