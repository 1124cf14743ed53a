#pragma once

#include <vector>

#include "pedsim/simulation.hpp"
#include "platform/helper_thread.hpp"
#include "sim/error_injection.hpp"

namespace pedsim {

// The design's error rule on a panel, number by number: marker m of animal
// i takes the m-th 32-bit number of row i (lane 0) of the error layer's
// stream; a number below the error probability (scaled to 2^32) is an
// error, and the same number picks its replacement first allele. Whatever
// the missing-data model, a genotype the rule strikes takes this code.
class DesignCodes {
 public:
  DesignCodes(const Model& model, const std::vector<double>& shares);
  // The replacement first allele of number `u`; 0: no error.
  std::int32_t code(std::uint32_t u) const {
    if (u >= threshold_) return 0;
    if (equal_shares_) return static_cast<std::int32_t>(1 + ((std::uint64_t{u} * scale_) >> 32));
    return replacement_((u + 0.5) / static_cast<double>(threshold_));
  }
  std::uint64_t threshold() const { return threshold_; }
  std::uint32_t scale() const { return scale_; }
  bool equal_shares() const { return equal_shares_; }

 private:
  // A number below the threshold is an error: probability p.
  std::uint64_t threshold_;
  // The scale maps [0, threshold) onto [0, K+1) x 2^32; too large a scale
  // (a probability under (K+1) / 2^32) takes the general way.
  std::uint32_t scale_;
  bool equal_shares_;
  ReplacementAlleles replacement_;
};

// The design's loss and error rules on every marker of the panel: an animal
// whose records were lost has none at any marker; each marker of an error
// candidate (as the design's rule picks them; on Y, where a dam has no
// genotype, also a son whose sire's records were lost) independently takes, with the
// model's error probability, a replacement first allele among 1..K+1 by
// `replacement_shares`. The draws come from the error layer's stream, one
// 32-bit number per candidate and marker, by position. With
// `design_marker_first`, marker 1 keeps the design's own errors.
void degrade_panel(const Pedigree& pedigree, const GenotypeStore& design, const Model& model,
                   const std::vector<double>& replacement_shares, const Seed& seed,
                   bool design_marker_first, Panel& panel, HelperThread& helper);

}  // namespace pedsim
