#include "analysis/error_truth.hpp"

#include <algorithm>
#include <atomic>
#include <bit>

#include "analysis/counts.hpp"
#include "platform/helper_thread.hpp"

namespace pedsim {

namespace {

Genotype recorded(const Panel& panel, std::int32_t animal, std::int32_t marker) {
  if (animal == 0) return {};
  return {panel.recorded_allele(animal, marker, 0), panel.recorded_allele(animal, marker, 1)};
}

}  // namespace

bool conflicts_with_parents(const Pedigree& pedigree, const Panel& panel, std::int32_t animal,
                            std::int32_t marker) {
  if (!panel.called(animal, marker)) return false;
  const std::int32_t sire = panel.passes(animal, true, marker) ? pedigree.sire[animal] : 0;
  return !is_mendelian_consistent(recorded(panel, animal, marker), recorded(panel, sire, marker),
                                  recorded(panel, pedigree.dam[animal], marker));
}

RecordFigures record_figures(const Pedigree& pedigree, const Panel& panel,
                             const std::vector<std::uint8_t>& detectable) {
  RecordFigures f;
  const std::int32_t markers = panel.markers();
  // A female's Y is no genotype.
  const std::int32_t y_markers = panel.y_markers().end - panel.y_markers().first;
  for (std::int32_t i = 1; i <= pedigree.created(); ++i) {
    const std::int32_t source = panel.sample(i);
    const std::int64_t carried = markers - (panel.male(source) ? 0 : y_markers);
    f.genotypes += carried;
    if (panel.lost(i)) continue;
    std::int64_t missing = 0;
    if (panel.has_missing_mask()) {
      const std::uint64_t* row = panel.missing(i);
      for (std::size_t w = 0; w < panel.mask_words(); ++w) {
        missing += std::popcount(row[w] & ~panel.absent_bits(source, w));
      }
    }
    f.called += carried - missing;
  }
  f.altered = static_cast<std::int64_t>(panel.altered().size());
  for (const std::uint8_t d : detectable) f.detectable += d;
  return f;
}

void in_two_halves(const Pedigree& pedigree,
                   const std::function<void(int, std::int32_t, std::int32_t)>& walk) {
  const std::int32_t cut = pedigree.created() / 2 + 1;
  HelperThread helper;
  helper.side_by_side([&] { walk(0, 1, cut); }, [&] { walk(1, cut, pedigree.created() + 1); });
}

std::vector<std::uint8_t> detectable_flags(const Pedigree& pedigree, const Panel& panel) {
  std::vector<std::uint8_t> flags(panel.altered().size(), 0);
  // A parent's genotype is checked in each offspring's trio, which may lie
  // in either half.
  in_two_halves(pedigree, [&](int, std::int32_t from, std::int32_t to) {
    for_each_checked_near_altered(
        pedigree, panel, from, to,
        [&flags](std::int32_t, std::size_t k, std::int32_t, bool conflict) {
          if (conflict) std::atomic_ref<std::uint8_t>(flags[k]).store(1, std::memory_order_relaxed);
        });
  });
  return flags;
}

RecordSummary summarize_records(const Simulation& run, const std::vector<std::uint8_t>& detectable,
                                const MarkerTable& table) {
  const Panel& panel = run.panel;
  RecordSummary r;
  const auto [call_min, call_max] = std::ranges::minmax(table.column("call_rate"));
  const auto [error_min, error_max] = std::ranges::minmax(table.column("error_rate"));
  r.call_rate_marker_min = call_min;
  r.call_rate_marker_max = call_max;
  r.error_rate_marker_min = error_min;
  r.error_rate_marker_max = error_max;
  const RecordFigures figures = record_figures(run.pedigree, panel, detectable);
  r.call_rate = figures.call_rate();
  r.error_rate = figures.error_rate();
  r.altered_genotypes = figures.altered;
  r.detectable_errors = figures.detectable;
  return r;
}

}  // namespace pedsim
