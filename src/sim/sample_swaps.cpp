#include "sim/sample_swaps.hpp"

#include <algorithm>
#include <utility>

#include "random/layer_stream.hpp"
#include "sim/panel_fill.hpp"

namespace pedsim {

namespace {

std::vector<std::pair<std::int32_t, std::int32_t>> draw_pairs(const Panel& panel,
                                                              const Pedigree& pedigree,
                                                              double share, const Seed& seed) {
  std::vector<std::int32_t> drawn;
  for (std::int32_t i = 1; i <= pedigree.created(); ++i) {
    if (panel.lost(i)) continue;
    LayerStream stream(seed.value, seed.replicate, Layer::kSampleSwaps,
                       static_cast<std::uint32_t>(i), 0);
    if (stream.next_uniform() < share) drawn.push_back(i);
  }
  LayerStream order(seed.value, seed.replicate, Layer::kSampleSwaps, 0, 1);
  for (std::size_t k = drawn.size(); k > 1; --k) {
    const auto j =
        std::min(k - 1, static_cast<std::size_t>(order.next_uniform() * static_cast<double>(k)));
    std::swap(drawn[k - 1], drawn[j]);
  }
  std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
  for (std::size_t k = 0; k + 1 < drawn.size(); k += 2) pairs.emplace_back(drawn[k], drawn[k + 1]);
  return pairs;
}

}  // namespace

std::vector<PedigreeChange> swap_samples(Panel& panel, const Pedigree& pedigree,
                                         std::vector<PedigreeChange> changes, double share,
                                         const Seed& seed) {
  if (share <= 0) return changes;
  PanelFill(panel).swap_records(draw_pairs(panel, pedigree, share, seed));
  std::vector<PedigreeChange> merged;
  auto next = changes.begin();
  for (std::int32_t i = 1; i <= pedigree.created(); ++i) {
    const bool changed = next != changes.end() && next->animal == i;
    if (!changed && panel.sample(i) == i) continue;
    PedigreeChange change =
        changed ? *next++
                : PedigreeChange{
                      i, pedigree.sire[i], pedigree.dam[i], pedigree.sire[i], pedigree.dam[i], i};
    change.sample = panel.sample(i);
    merged.push_back(change);
  }
  return merged;
}

}  // namespace pedsim
