#pragma once

#include <span>
#include <string_view>
#include <vector>

namespace pedsim {

struct Simulation;
struct MarkerCounts;

// A number per marker of a run's panel: a column of marker_statistics().
// The summary's spreads across markers and Python's
// `run.marker_statistics` read the columns.
struct MarkerStatistic {
  std::string_view name;
  std::string_view help;
  // The column from the panel's counts per marker.
  double (*of)(const MarkerCounts& counts, std::size_t marker);
};

// Every statistic, in the order of the table's columns.
std::span<const MarkerStatistic> marker_statistics();

// A run's statistics per marker: column k is row k of marker_statistics(),
// one value per marker.
struct MarkerTable {
  std::vector<std::vector<double>> columns;
  const std::vector<double>& column(std::string_view name) const;
};
MarkerTable marker_table(const Simulation& run);

}  // namespace pedsim
