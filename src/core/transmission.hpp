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

// Code 0 to 5 of one of the six genotypes 1/1, 1/2, 1/3, 2/2, 2/3, 3/3; -1
// for any other pair of alleles.
constexpr int genotype_code(Genotype g) {
  if (g.first < 1 || g.second > 3 || g.first > g.second) return -1;
  return (g.first - 1) * 3 + g.second - 1 - (g.first - 1) * g.first / 2;
}

// Transmission for one ordered pair of parents' genotypes, worked out in
// advance: whether a number is drawn, and the offspring's alleles for a draw
// in each quarter of (0, 1) (all four alike when nothing is drawn).
struct TransmissionRule {
  bool draws;
  std::int8_t first[4];
  std::int8_t second[4];
};

// The rule for parents with these genotype codes (each 0 to 5).
const TransmissionRule& transmission_rule(int sire_code, int dam_code);

// The rule for these parents; nullptr when either is not one of the six
// genotypes.
inline const TransmissionRule* transmission_rule(Genotype sire, Genotype dam) {
  const int s = genotype_code(sire);
  const int d = genotype_code(dam);
  return s < 0 || d < 0 ? nullptr : &transmission_rule(s, d);
}

// The quarter of (0, 1) holding x, 0 to 3; a value on a boundary belongs to
// the lower quarter.
inline int quarter_of(double x) { return (x > 0.25) + (x > 0.5) + (x > 0.75); }

// Writes the true genotype of offspring `child` from its parents' rows.
inline void transmission(Run& run, std::int32_t sire, std::int32_t dam, std::int32_t child) {
  const TransmissionRule* rule =
      transmission_rule({run.IV51[sire], run.IV52[sire]}, {run.IV51[dam], run.IV52[dam]});
  if (rule == nullptr) return;
  const int q = rule->draws ? quarter_of(run.stream.draw_uniform()) : 0;
  run.IV51[child] = rule->first[q];
  run.IV52[child] = rule->second[q];
}

}  // namespace pedsim
