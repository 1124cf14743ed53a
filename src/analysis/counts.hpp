#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "analysis/error_truth.hpp"
#include "pedsim/marker_statistics.hpp"
#include "pedsim/simulation.hpp"

namespace pedsim {

// Whether error injection changed row i's recorded first allele at marker 0: the record
// was kept, so it started as the true allele, and it no longer is.
bool is_altered(const Pedigree& pedigree, const GenotypeStore& genotypes, std::int32_t i);

// Whether the design's rule changed `animal`'s recorded first allele at
// marker m of a panel (its replacement code differs from the sample's true
// allele).
bool is_altered_at(const Panel& panel, std::int32_t animal, std::int32_t m);

// Whether a recorded genotype can come from the recorded genotypes of the
// parents that are genotyped (a parent that is not is passed as 0/0).
bool is_mendelian_consistent(Genotype child, Genotype sire, Genotype dam);

struct InconsistencyCount {
  std::int64_t involving_altered = 0;
  std::int64_t not_involving_altered = 0;
};

// Animals whose recorded genotype at marker 0 cannot come from the recorded
// genotypes of their genotyped parents, split by whether the animal or such a parent was
// altered. The second count is 0 in every run: transmission is Mendelian.
InconsistencyCount count_inconsistencies(const Pedigree& pedigree, const GenotypeStore& genotypes);

// The recorded parents that differ from the true ones, by kind.
struct PedigreeErrorCounts {
  std::int64_t animals_with_changed_parents = 0;
  std::int64_t wrong_sires = 0;
  std::int64_t missing_sires = 0;
  std::int64_t wrong_dams = 0;
  std::int64_t missing_dams = 0;
  // Animals whose records are another animal's sample.
  std::int64_t swapped_samples = 0;
};
PedigreeErrorCounts count_pedigree_errors(const std::vector<PedigreeChange>& changes);

// What the table of a replicate study gives of one run.
struct RunCounts {
  std::int64_t animals = 0;
  std::int64_t records_lost = 0;
  std::int64_t error_candidates = 0;
  std::int64_t altered = 0;
  // Animals whose recorded genotype conflicts with a genotyped parent's.
  std::int64_t inconsistencies = 0;
  // Under a missing-data or error model other than the design's.
  std::optional<RecordFigures> records;
  // With pedigree errors.
  std::optional<PedigreeErrorCounts> pedigree;
  // With --ibd: the mean inbreeding on the recorded and the true pedigree,
  // and realised.
  std::optional<std::array<double, 3>> mean_inbreeding;
};
RunCounts count_run(const Pedigree& pedigree, const GenotypeStore& genotypes);

// A panel's altered genotypes (an error changed the recorded first allele)
// and genotypes that conflict with a genotyped parent's at their marker,
// and the animals with any.
struct PanelCounts {
  std::int64_t altered_genotypes = 0;
  std::int64_t altered_animals = 0;
  std::int64_t inconsistent_genotypes = 0;
  std::int64_t inconsistent_animals = 0;
  // Of those animals, the ones with a conflict at a marker where the
  // animal or a recorded parent holds an altered genotype.
  std::int64_t inconsistent_animals_involving_altered = 0;
  // Per marker, its genotypes that conflict with a genotyped parent's (on
  // two-allele markers, PLINK's count of Mendel errors in trios).
  std::vector<std::int64_t> inconsistent_by_marker;
};
// With `detectable`, also fills the flags of detectable_flags, from the
// same walk.
PanelCounts count_panel(const Simulation& run, std::vector<std::uint8_t>* detectable = nullptr);

// The checks between relatives that several outputs of one run read (the
// panel's counts, the detectable flags), worked out by one walk over the
// animals when first asked for.
class RunChecks {
 public:
  explicit RunChecks(const Simulation& run) : run_(run) {}
  const PanelCounts& panel_counts();
  const std::vector<std::uint8_t>& detectable();
  const MarkerTable& marker_table();

 private:
  void check();

  const Simulation& run_;
  bool checked_ = false;
  PanelCounts counts_;
  std::vector<std::uint8_t> detectable_;
  std::optional<MarkerTable> marker_table_;
};

// The counts of a run: of the design's marker, or of its panel (animals
// with an altered genotype at any marker, animals conflicting with a
// genotyped parent at any marker).
RunCounts count_run(const Simulation& run, RunChecks& checks);

}  // namespace pedsim
