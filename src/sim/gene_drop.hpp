#pragma once

#include "pedsim/simulation.hpp"
#include "platform/helper_thread.hpp"

namespace pedsim {

// Told of each row of the panel once its genotypes are in place, on the
// thread that bred it (`half` 0 or 1, each half's rows in increasing
// order): the row's records can be drawn while its genotypes are in the
// cache. Every earlier generation is complete by then.
class RowObserver {
 public:
  virtual void row_bred(std::int32_t row, int half) = 0;
  // Every row of a generation is bred: half 0 bred its first rows, half 1
  // the rest.
  virtual void generation_bred() = 0;

 protected:
  ~RowObserver() = default;
};

// Drops the panel's genotypes onto the bred pedigree, every number from the
// marker layer's streams: each founder's two haplotypes drawn from the
// markers' frequencies, then, generation by generation, each offspring's
// first haplotype by a meiosis of its sire's two and its second by one of
// its dam's. Unlinked, a meiosis takes each marker from either haplotype
// evenly; on a linked map it starts on either and switches at crossovers of
// a Poisson process of rate 1 per Morgan along each chromosome (Haldane's
// map). With `design_marker_first`, marker 1 then takes the design's
// marker, as it was bred. The observer, if any, hears of each row. A stop
// request, if any, is looked at, and the progress told, after each
// generation.
void drop_genes(const Pedigree& pedigree, const GenotypeStore& design, const Seed& seed,
                bool design_marker_first, Panel& panel, HelperThread& helper,
                RowObserver* observer = nullptr, const StopRequest* stop = nullptr,
                Progress* progress = nullptr);

}  // namespace pedsim
