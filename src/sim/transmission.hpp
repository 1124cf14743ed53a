#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "pedsim/simulation.hpp"

namespace pedsim {

// Code 0 to 5 of one of the six genotypes 1/1, 1/2, 1/3, 2/2, 2/3, 3/3; -1
// for any other pair of alleles.
constexpr int genotype_code(Genotype g) {
  if (g.first < 1 || g.second > 3 || g.first > g.second) return -1;
  return (g.first - 1) * 3 + g.second - 1 - (g.first - 1) * g.first / 2;
}

// Mendelian transmission for one ordered pair of parents' genotypes, worked
// out in advance: whether a number is drawn (not when both parents are
// homozygous), and the offspring's alleles for a draw in each quarter of
// (0, 1) (all four alike when nothing is drawn).
struct TransmissionRule {
  bool draws;
  std::int8_t first[4];
  std::int8_t second[4];
};

// The rules for every ordered pair of genotype codes, sire's first.
using TransmissionRules = std::array<std::array<TransmissionRule, 6>, 6>;
extern const TransmissionRules kTransmissionRules;

// The rule for parents with these genotype codes (each 0 to 5).
inline const TransmissionRule& transmission_rule(int sire_code, int dam_code) {
  return kTransmissionRules[static_cast<std::size_t>(sire_code)]
                           [static_cast<std::size_t>(dam_code)];
}

// The quarter of (0, 1) holding x, 0 to 3; a value on a boundary belongs to
// the lower quarter.
inline int quarter_of(double x) { return (x > 0.25) + (x > 0.5) + (x > 0.75); }

}  // namespace pedsim
