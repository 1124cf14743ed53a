#pragma once

#include <vector>

#include "pedsim/relatedness.hpp"
#include "pedsim/simulation.hpp"

namespace pedsim {

// segments.tsv: a header, then a row per segment: animal, haplotype (1 from
// the sire, 2 from the dam), chromosome, start_cm, end_cm, founder,
// founder_haplotype; animals by name.
void write_segments(const Simulation& run, const Relatedness& relatedness, ByteSink& out);

// kinship.tsv: a header, then a row per animal: animal, inbreeding on the
// recorded pedigree, on the true pedigree, and realised.
void write_kinship(const Simulation& run, const Relatedness& relatedness, ByteSink& out);

// pairs.tsv: a header, then a row per pair: the two animals, their
// relationship, pedigree kinship on the recorded and on the true pedigree,
// realised kinship, and the shares sharing 0, 1 and 2 haplotypes by descent.
void write_pairs(const Simulation& run, const std::vector<PairTruth>& pairs, ByteSink& out);

}  // namespace pedsim
