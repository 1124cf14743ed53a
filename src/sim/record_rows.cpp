#include "sim/record_rows.hpp"

#include <algorithm>

#include "platform/large_memory.hpp"
#include "sim/panel_fill.hpp"

namespace pedsim {

namespace {

// Room for most of the errors, so that the list is not copied as it grows;
// the matrix and the design's rule have no single rate to go by.
std::size_t room_for_errors(const RecordOptions& options, const Panel& panel) {
  if (!options.error_rate) return 0;
  const double expected = *options.error_rate * static_cast<double>(panel.bred()) * panel.markers();
  return static_cast<std::size_t>(std::min(expected * 1.01, 4e9)) + 4096;
}

}  // namespace

RecordRows::RecordRows(const Pedigree& pedigree, const GenotypeStore& design, const Model& model,
                       const std::vector<double>& design_shares, const RecordOptions& options,
                       const ErrorMatrix& matrix, const Seed& seed, Panel& panel,
                       bool design_marker_first)
    : options_(options),
      seed_(seed),
      panel_(panel),
      call_rates_(marker_call_rates(options, seed, panel.map().markers_in_whole())),
      error_rates_(marker_error_rates(options, seed, panel.map().markers_in_whole())),
      counts_(static_cast<std::size_t>(panel.animals()) + 1, 0) {
  prepare_missing(pedigree, design, options, seed, panel);
  for (int half = 0; half < 2; ++half) {
    if (panel.has_missing_mask()) missing_.emplace_back(options, seed, call_rates_, panel);
    errors_.emplace_back(pedigree, model, design_shares, options, matrix, error_rates_, seed, panel,
                         counts_, design_marker_first ? &design : nullptr);
  }
  if (!options.exact_error_count) {
    cells_.reserve(room_for_errors(options, panel));
    prefer_huge_pages(cells_.data(), cells_.capacity() * sizeof(AlteredCell));
  }
}

void RecordRows::row_bred(std::int32_t row, int half) {
  const auto h = static_cast<std::size_t>(half);
  if (!missing_.empty()) missing_[h].draw(row);
  if (!options_.exact_error_count) errors_[h].alter(row);
}

void RecordRows::generation_bred() {
  for (RowErrors& half : errors_) {
    cells_.insert(cells_.end(), half.cells.begin(), half.cells.end());
    half.cells.clear();
  }
}

std::int64_t RecordRows::error_candidates() const {
  std::int64_t candidates = 0;
  for (const RowErrors& errors : errors_) candidates += errors.candidates;
  return candidates;
}

void RecordRows::finish() {
  if (options_.exact_error_count) exact_errors(options_, seed_, errors_[0], panel_);
  generation_bred();
  PanelFill(panel_).set_altered(std::move(cells_), counts_);
}

}  // namespace pedsim
