#pragma once

#include <vector>

#include "pedsim/pedsim.hpp"
#include "platform/side_by_side.hpp"

namespace pedsim {

// Alters the called genotypes of the panel by the chosen error model, every
// number from the error layer's streams; the missing genotypes must be in
// place. The events of each animal are placed along its markers by gaps
// over every genotype, called or not, and those on missing genotypes
// dropped, so which called genotypes are altered never depends on which
// others are missing (except with an exact count, and under the design's
// rule, whose candidates are the genotypes whose parents' are missing).
// - design: a called genotype whose parents are known and missing at that
//   marker takes, with the model's error probability, a replacement first
//   allele among 1..K+1 by `design_shares`.
// - random-allele: with probability e_m, one allele (either, evenly) is
//   replaced by another of the marker's alleles, evenly.
// - dropout: with probability e_m, a heterozygote is recorded as a
//   homozygote of one of its alleles, evenly.
// - matrix: a two-allele genotype of g copies of allele 2 is recorded as g'
//   with probability matrix[g][g'].
// e_m is the error rate, or with a spread each marker's drawn from a Beta
// distribution of mean e. With an exact count, round(e x genotypes the
// model can alter) of the called genotypes are altered, placed evenly.
void apply_error_model(const Pedigree& pedigree, const Model& model,
                       const std::vector<double>& design_shares, const RecordOptions& options,
                       const ErrorMatrix& matrix, const Seed& seed, Panel& panel,
                       HelperThread& helper);

}  // namespace pedsim
