#pragma once

#include <vector>

#include "pedsim/pedsim.hpp"
#include "platform/side_by_side.hpp"

namespace pedsim {

// The design's loss and error rules on every marker of the panel: an animal
// whose records were lost has none at any marker; each marker of an error
// candidate (as the design's rule picks them) independently takes, with the
// model's error probability, a replacement first allele among 1..K+1 by
// `replacement_shares`. The draws come from the error layer's stream, one
// 32-bit number per candidate and marker, by position. With
// `design_marker_first`, marker 1 keeps the design's own errors.
void degrade_panel(const Pedigree& pedigree, const GenotypeStore& design, const Model& model,
                   const std::vector<double>& replacement_shares, const Seed& seed,
                   bool design_marker_first, Panel& panel, HelperThread& helper);

}  // namespace pedsim
