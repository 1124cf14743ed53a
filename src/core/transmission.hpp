#pragma once

#include <cstdint>
#include <optional>

#include "core/founders.hpp"
#include "core/run.hpp"

namespace pedsim {

// Whether transmission from these parents takes a number from the stream:
// true unless both are homozygous (or either is not one of the six genotypes).
bool transmission_draws(Genotype sire, Genotype dam);

// The offspring genotype for the transmission draw x (ignored when no number
// is drawn); nullopt when either parent is not one of the six genotypes.
std::optional<Genotype> offspring_genotype(Genotype sire, Genotype dam, double x);

// The offspring genotype of a sire and a dam by Mendelian transmission.
// Takes no number from the stream when both parents are homozygous and
// exactly one otherwise. A parent that is not one of the six genotypes
// matches nothing: no draw, no result.
std::optional<Genotype> transmit(Genotype sire, Genotype dam, UniformStream& stream);

// Writes the true genotype of offspring `child` from its parents' rows.
void transmission(Run& run, std::int32_t sire, std::int32_t dam, std::int32_t child);

}  // namespace pedsim
