#pragma once

#include <vector>

#include "pedsim/simulation.hpp"
#include "sim/rare_events.hpp"

namespace pedsim {

// Which genotypes of the panel are missing, drawn from the missing-data
// layer's streams. The design's model: an animal whose records the design's
// age schedule removed has none. The random model: each genotype is called
// with probability c_m x s_i, marker m's rate times animal i's (each c
// without its spread, drawn from a Beta distribution of mean c with one,
// and of mean sqrt(c) each with both), the rarer of called and missing
// genotypes placed by gaps. Either way, with --ungenotyped-parents a share of
// the parents (rounded), chosen evenly, lose every genotype.

// What is settled before any genotype: the animals without records, and
// room for the random model's missing genotypes.
void prepare_missing(const Pedigree& pedigree, const GenotypeStore& design,
                     const RecordOptions& options, const Seed& seed, Panel& panel);

// The random model's call rate of each marker.
std::vector<double> marker_call_rates(const RecordOptions& options, const Seed& seed,
                                      std::int32_t markers);

// The random model's missing genotypes, one animal at a time, for one thread.
class MissingRows {
 public:
  MissingRows(const RecordOptions& options, const Seed& seed, const std::vector<double>& rates,
              Panel& panel);
  void draw(std::int32_t animal);

 private:
  const RecordOptions& options_;
  Seed seed_;
  const std::vector<double>& rates_;
  double low_;
  double high_;
  double mean_ = 0;
  RowEvents events_;
  Panel& panel_;
};

}  // namespace pedsim
