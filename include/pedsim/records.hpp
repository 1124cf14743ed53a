#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "pedsim/markers.hpp"

namespace pedsim {

struct ErrorModel;
struct MissingModel;

// How a run's records are degraded: which genotypes are missing and which
// of the called ones are wrong. At their defaults, the design's rules: an
// age schedule of lost animals, and the design's error rule.
struct RecordOptions {
  // A row of error_models(): "design", "random-allele", ..., "matrix:FILE".
  std::string error_model = "design";
  // The error rate e of random-allele and dropout.
  std::optional<double> error_rate;
  // beta:A: each marker's error rate drawn from a Beta distribution of mean
  // e and concentration A.
  std::optional<double> error_spread;
  // Exactly round(e x called genotypes) errors, placed uniformly over the
  // called genotypes, instead of one trial per genotype.
  bool exact_error_count = false;
  // A row of missing_models(): "design" or "random".
  std::string missing_model = "design";
  // The random model's call rate c: each genotype called with probability c.
  std::optional<double> call_rate;
  // beta:A spreads of the call rate across markers and across animals.
  std::optional<double> call_rate_spread;
  std::optional<double> animal_call_rate_spread;
  // A share of the animals that are parents have no genotype at all.
  std::optional<double> ungenotyped_parents;
  // Pedigree errors: a share of the animals with a known sire (dam) are
  // recorded with another male (female), or with none.
  double wrong_sire = 0;
  double wrong_dam = 0;
  double missing_sire = 0;
  double missing_dam = 0;
  // Where a wrong parent comes from: "same-generation" (the true parent's)
  // or "any" (any animal of the parent's sex listed before the animal).
  std::string wrong_parent_from = "same-generation";
  // Sample mix-ups: a share of the genotyped animals exchange their
  // records in pairs.
  double swap = 0;

  bool is_design_errors() const { return error_model == "design"; }
  bool is_design_missing() const { return missing_model == "design" && !ungenotyped_parents; }
  // Missing genotypes and errors by the design's rules, whatever the
  // pedigree errors.
  bool has_design_records() const { return is_design_errors() && is_design_missing(); }
  bool has_parent_errors() const {
    return wrong_sire > 0 || wrong_dam > 0 || missing_sire > 0 || missing_dam > 0;
  }
  bool has_pedigree_errors() const { return has_parent_errors() || swap > 0; }
  bool is_design() const {
    return is_design_errors() && is_design_missing() && !has_pedigree_errors();
  }
  // The models' rows (of options that passed validate()).
  const ErrorModel& error_model_row() const;
  const MissingModel& missing_model_row() const;
  // The error model's name in errors.tsv: "random-allele", "matrix", ...
  std::string error_model_name() const;
  // How reports name the record model: "error_model=random-allele ...".
  std::string describe() const;
  // Throws InvalidParameters naming a value that cannot be used or options
  // that do not go together (with the markers too), and Stop (status 2) for
  // an error matrix file that cannot be read or used.
  void validate(const MarkerOptions& markers) const;

  friend bool operator==(const RecordOptions&, const RecordOptions&) = default;
};

// P(recorded genotype | true genotype) of a two-allele marker, over 0, 1 and
// 2 copies of the second allele: rows are true genotypes, each summing to 1.
using ErrorMatrix = std::array<std::array<double, 3>, 3>;

}  // namespace pedsim
