#pragma once

#include <optional>
#include <vector>

#include "pedsim/simulation.hpp"
#include "sim/gene_drop.hpp"
#include "sim/missing_data.hpp"
#include "sim/row_errors.hpp"

namespace pedsim {

// The missing-data and error models applied to each animal as the gene drop
// breeds it, on the thread that bred it, while its genotypes are in the
// cache. Each generation's alterations join the list in animal order as it
// ends; finish() hands the list to the panel (after placing an exact count
// of errors, which needs every row first).
class RecordRows final : public RowObserver {
 public:
  // With `design_marker_first`, marker 1 is the design's marker.
  RecordRows(const Pedigree& pedigree, const GenotypeStore& design, const Model& model,
             const std::vector<double>& design_shares, const RecordOptions& options,
             const ErrorMatrix& matrix, const Seed& seed, Panel& panel, bool design_marker_first);
  void row_bred(std::int32_t row, int half) override;
  void generation_bred() override;
  void finish();
  // The animals with a genotype the design's rule could strike.
  std::int64_t error_candidates() const;

 private:
  const RecordOptions& options_;
  Seed seed_;
  Panel& panel_;
  std::vector<double> call_rates_;
  std::vector<double> error_rates_;
  std::vector<MissingRows> missing_;
  std::vector<RowErrors> errors_;
  // The altered genotypes of the generations bred so far, in order.
  std::vector<AlteredCell> cells_;
  // Per animal, how many of them are its.
  std::vector<std::uint32_t> counts_;
};

}  // namespace pedsim
