#pragma once

#include "pedsim/pedsim.hpp"
#include "platform/side_by_side.hpp"

namespace pedsim {

// Drops the panel's genotypes onto the bred pedigree, every number from the
// marker layer's streams: each founder's two haplotypes drawn from the
// markers' frequencies, then, generation by generation, each offspring's
// first haplotype by a meiosis of its sire's two and its second by one of
// its dam's. Unlinked, a meiosis takes each marker from either haplotype
// evenly; on a linked map it starts on either and switches at crossovers of
// a Poisson process of rate 1 per Morgan along each chromosome (Haldane's
// map). With `design_marker_first`, marker 1 then takes the design's
// marker, as it was bred.
void drop_genes(const Pedigree& pedigree, const GenotypeStore& design, const Seed& seed,
                bool design_marker_first, Panel& panel, HelperThread& helper);

}  // namespace pedsim
