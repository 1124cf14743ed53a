// The per-marker statistics: a row each, a small function of the counts
// that one walk over the panel makes.

#include <algorithm>
#include <span>

#include "analysis/counts.hpp"
#include "analysis/marker_counts.hpp"
#include "analysis/recorded_words.hpp"

namespace pedsim {

namespace {

double ratio(double part, double whole) { return whole == 0 ? 0 : part / whole; }

double founder_heterozygosity(const MarkerCounts& c, std::size_t m) {
  return static_cast<double>(c.tally.heterozygous[m]) / c.founders;
}

double minor_allele_frequency(const MarkerCounts& c, std::size_t m) {
  const auto marker = static_cast<std::int32_t>(m);
  std::int64_t least = c.tally.of(marker, 1);
  for (std::int32_t a = 2; a <= c.tally.alleles; ++a)
    least = std::min(least, c.tally.of(marker, a));
  return ratio(static_cast<double>(least), static_cast<double>(c.copies[m]));
}

double call_rate(const MarkerCounts& c, std::size_t m) {
  return ratio(static_cast<double>(c.called[m]), static_cast<double>(c.carriers[m]));
}

double error_rate(const MarkerCounts& c, std::size_t m) {
  return ratio(static_cast<double>(c.altered[m]), static_cast<double>(c.called[m]));
}

double inconsistent_genotypes(const MarkerCounts& c, std::size_t m) {
  return static_cast<double>(c.inconsistent[m]);
}

constexpr MarkerStatistic kMarkerStatistics[] = {
    {"founder_heterozygosity", "share of the founders heterozygous (true genotypes)",
     founder_heterozygosity},
    {"minor_allele_frequency", "the rarest allele's share of every bred animal's true alleles",
     minor_allele_frequency},
    {"call_rate", "called genotypes of the bred animals that carry the marker", call_rate},
    {"error_rate", "altered genotypes of the called ones", error_rate},
    {"inconsistent_genotypes",
     "called genotypes that cannot come from their called parents' (PLINK's Mendel errors)",
     inconsistent_genotypes},
};

// Per marker, its called genotypes: every animal with records whose
// sample carries the marker, less those missing at the marker.
std::vector<std::int64_t> called_by_marker(const Panel& panel) {
  const auto markers = static_cast<std::size_t>(panel.markers());
  std::int64_t kept = 0;
  std::int64_t kept_females = 0;
  for (std::int32_t i = 1; i <= panel.bred(); ++i) {
    if (panel.lost(i)) continue;
    ++kept;
    kept_females += panel.male(panel.sample(i)) ? 0 : 1;
  }
  std::vector<std::int64_t> called(markers, kept);
  for (std::int32_t m = panel.y_markers().first; m < panel.y_markers().end; ++m) {
    called[static_cast<std::size_t>(m)] -= kept_females;
  }
  for (std::int32_t i = 1; i <= panel.bred() && panel.has_missing_mask(); ++i) {
    if (panel.lost(i)) continue;
    const std::int32_t source = panel.sample(i);
    for_each_marker(std::span<const std::uint64_t>(panel.missing(i), panel.mask_words()),
                    [&](std::int32_t m) {
                      if (static_cast<std::size_t>(m) < markers && panel.copies(source, m) > 0)
                        --called[static_cast<std::size_t>(m)];
                    });
  }
  return called;
}

}  // namespace

std::span<const MarkerStatistic> marker_statistics() { return kMarkerStatistics; }

const std::vector<double>& MarkerTable::column(std::string_view name) const {
  const auto* row = std::find_if(std::begin(kMarkerStatistics), std::end(kMarkerStatistics),
                                 [&](const MarkerStatistic& s) { return s.name == name; });
  return columns.at(static_cast<std::size_t>(row - kMarkerStatistics));
}

MarkerCounts count_markers(const Simulation& run, std::vector<std::int64_t> inconsistent) {
  const Panel& panel = run.panel;
  Carried carried = carried_by_marker(panel);
  MarkerCounts counts{
      .founders = run.parameters.founders,
      .carriers = std::move(carried.carriers),
      .copies = std::move(carried.copies),
      .tally = tally_alleles(panel, run.parameters.founders),
      .called = called_by_marker(panel),
      .altered = std::vector<std::int64_t>(static_cast<std::size_t>(panel.markers())),
      .inconsistent = std::move(inconsistent)};
  // The design's rule keeps its errors as replacement codes, other models as
  // a list.
  for (const std::int32_t animal : panel.candidates()) {
    for (std::int32_t m = 0; m < panel.markers(); ++m) {
      counts.altered[static_cast<std::size_t>(m)] += is_altered_at(panel, animal, m) ? 1 : 0;
    }
  }
  for (const AlteredCell& cell : panel.altered()) {
    ++counts.altered[static_cast<std::size_t>(cell.marker)];
  }
  return counts;
}

MarkerTable marker_table(const MarkerCounts& counts) {
  MarkerTable table;
  const std::size_t markers = counts.called.size();
  for (const MarkerStatistic& statistic : kMarkerStatistics) {
    std::vector<double>& column = table.columns.emplace_back(markers);
    for (std::size_t m = 0; m < markers; ++m) column[m] = statistic.of(counts, m);
  }
  return table;
}

MarkerTable marker_table(const Simulation& run) {
  return marker_table(count_markers(run, count_panel(run).inconsistent_by_marker));
}

}  // namespace pedsim
