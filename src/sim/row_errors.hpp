#pragma once

#include <array>
#include <vector>

#include "models/error_kernels.hpp"
#include "pedsim/simulation.hpp"
#include "sim/error_injection.hpp"
#include "sim/panel_errors.hpp"
#include "sim/rare_events.hpp"

namespace pedsim {

// The error models (a row each of error_models(), with its kernel) alter
// called genotypes of the panel, every number from the error layer's streams, once the missing
// genotypes of the animal (and of its parents) are in place. The events of each animal are placed
// along its markers by gaps over every genotype, called or not, and those on missing genotypes
// dropped, so which called genotypes are altered never depends on which others are missing (except
// with an exact count, and under the design's rule, whose candidates are the genotypes whose
// parents' are missing).
// - the design's rule: a called genotype whose parents are known and missing
//   at that marker takes, with the model's error probability, a replacement
//   first allele among 1..K+1 by the design's shares.
// - a rate model: each called genotype, with probability e_m, takes the
//   model's change (its kernel, from one 32-bit number).
// - matrix: a two-allele genotype of g copies of allele 2 is recorded as g'
//   with probability matrix[g][g'].
// e_m is the error rate, or with a spread each marker's drawn from a Beta
// distribution of mean e.

// Each marker's error rate.
std::vector<double> marker_error_rates(const RecordOptions& options, const Seed& seed,
                                       std::int32_t markers);

// One thread's alterations, an animal at a time, listed in order; each
// animal's count goes to `counts` (one per animal: threads that alter
// different animals may share it).
class RowErrors {
 public:
  // `design_marker`: the design's store when marker 1 is the design's
  // marker, whose errors the design's rule keeps there.
  RowErrors(const Pedigree& pedigree, const Model& model, const std::vector<double>& shares,
            const RecordOptions& options, const ErrorMatrix& matrix,
            const std::vector<double>& rates, const Seed& seed, const Panel& panel,
            std::vector<std::uint32_t>& counts, const GenotypeStore* design_marker);
  void alter(std::int32_t animal);
  // The model's change at a called genotype, from one 32-bit number.
  void event(std::uint32_t draw, std::int32_t animal, std::int32_t marker);

  std::vector<AlteredCell> cells;
  // Animals with a genotype the design's rule could strike.
  std::int64_t candidates = 0;

 private:
  int true_copies(std::int32_t i, std::int32_t m) const;
  void keep(std::int32_t i, std::int32_t m, std::int32_t first, std::int32_t second, std::int32_t a,
            std::int32_t b);
  void alter_batch(std::int32_t i, const std::int32_t* markers, const std::uint32_t* draws,
                   std::size_t count);
  std::size_t keep_carried(std::int32_t i, std::size_t kept);
  void matrix_event(std::uint32_t draw, std::int32_t i, std::int32_t m);
  void design_rule(std::int32_t i);

  const Pedigree& pedigree_;
  const ErrorMatrix& matrix_;
  const std::vector<double>& rates_;
  Seed seed_;
  const Panel& panel_;
  std::vector<std::uint32_t>& counts_;
  const ErrorKernel& kernel_;
  std::int32_t alleles_;
  DesignCodes design_codes_;
  const GenotypeStore* design_marker_;
  double lowest_rate_;
  double highest_rate_;
  std::array<double, 3> change_{};
  double highest_change_ = 0;
  RowEvents events_;
  // A batch's cells, before those kept join `cells`.
  std::vector<AlteredCell> batch_;
};

// With an exact count: round(e x the called genotypes the model can alter)
// of them, chosen evenly (Floyd's sampling, then in order), each altered by
// `errors`, which lists them.
void exact_errors(const RecordOptions& options, const Seed& seed, RowErrors& errors,
                  const Panel& panel);

}  // namespace pedsim
