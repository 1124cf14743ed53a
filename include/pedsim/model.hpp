#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace pedsim {

// The constants of the model's rules, the design's values by default. A run
// validates its model once and hands it to each rule.
struct Model {
  // The marker's allele frequencies, in allele order. Founders draw their
  // genotypes in Hardy-Weinberg proportions, genotypes ordered 1/1, 1/2, ...,
  // 1/K, 2/2, ...: each takes the draws up to its cumulative share rounded
  // to single precision (a draw equal to a bound belongs to the genotype the
  // bound closes).
  std::vector<double> allele_frequencies{1.0 / 3, 1.0 / 3, 1.0 / 3};
  // An offspring whose sex draw is above this is female, else male.
  double male_probability = 0.5;
  // A record of age factor k (1 for the newest generation) is removed on a
  // draw at or below k x loss_step: the design's 0.1 as held in single
  // precision.
  double loss_step = static_cast<double>(0.1F);
  // An error candidate whose draw is at or below this takes a replacement
  // first allele.
  double error_probability = 0.5;
  // The replacement allele's distribution over 1..K+1 (K+1, an allele the
  // marker does not have): a draw at or below a cumulative bound takes its
  // allele, except at the last bound, which sends an equal draw up.
  std::vector<double> replacement_shares{0.25, 0.25, 0.25, 0.25};

  std::int32_t alleles() const { return static_cast<std::int32_t>(allele_frequencies.size()); }
  // Throws InvalidParameters naming the value that cannot be used.
  void validate() const;
  bool is_design() const { return *this == Model{}; }
  // "design" or "custom", as run.tsv names the model.
  std::string name() const { return is_design() ? "design" : "custom"; }
  // The expected share of error candidates whose recorded allele changes.
  double expected_altered_share() const;
  // "design", or the values, as "key: value" lines of the summary.
  std::string describe() const;

  friend bool operator==(const Model&, const Model&) = default;
};

// A probability of the model, and how messages name it.
struct ModelRate {
  const char* name;
  double Model::*value;
};

// The model's probabilities, each checked by validate() to lie in [0, 1]
// and listed in the summary of a model other than the design's.
inline constexpr ModelRate kModelRates[] = {
    {"male_probability", &Model::male_probability},
    {"loss_step", &Model::loss_step},
    {"error_probability", &Model::error_probability},
};

}  // namespace pedsim
