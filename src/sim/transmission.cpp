#include "sim/transmission.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace pedsim {

namespace {

constexpr bool is_homozygous(Genotype g) { return g.first == g.second; }

constexpr Genotype sorted_pair(std::int32_t a, std::int32_t b) {
  return {std::min(a, b), std::max(a, b)};
}

// The six genotypes in the order of their codes 0 to 5.
constexpr std::array<Genotype, 6> kGenotypes{{{1, 1}, {1, 2}, {1, 3}, {2, 2}, {2, 3}, {3, 3}}};

// The offspring of two of the six genotypes for the draw x. Two homozygous
// parents draw nothing and pass their one allele each. Otherwise one number
// decides both contributions: the leading parent (the heterozygous one; of
// two heterozygous parents, the one first in the order 1/2, 1/3, 2/3) passes
// the allele picked by the half in which x lies, the other parent the one
// picked by the quarter within that half.
constexpr Genotype offspring_of(Genotype sire, Genotype dam, double x) {
  if (is_homozygous(sire) && is_homozygous(dam)) return sorted_pair(sire.first, dam.first);
  Genotype lead = sire;
  Genotype other = dam;
  const bool dam_leads = is_homozygous(sire) ||
                         (!is_homozygous(dam) &&
                          std::pair(dam.first, dam.second) < std::pair(sire.first, sire.second));
  if (dam_leads) std::swap(lead, other);
  if (x <= 0.25) return sorted_pair(lead.first, other.first);
  if (x <= 0.5) return sorted_pair(lead.first, other.second);
  if (x <= 0.75) return sorted_pair(lead.second, other.first);
  return sorted_pair(lead.second, other.second);
}

// The rule for every ordered pair of genotype codes, worked out once: the
// offspring for a draw in each quarter of (0, 1), the largest draw of each
// quarter standing for all of it.
constexpr TransmissionRules build_rules() {
  constexpr std::array<double, 4> kQuarterEnds{0.25, 0.5, 0.75, 1.0};
  TransmissionRules rules{};
  for (std::size_t s = 0; s < 6; ++s) {
    for (std::size_t d = 0; d < 6; ++d) {
      auto& rule = rules[s][d];
      rule.draws = !(is_homozygous(kGenotypes[s]) && is_homozygous(kGenotypes[d]));
      for (std::size_t q = 0; q < 4; ++q) {
        const Genotype child = offspring_of(kGenotypes[s], kGenotypes[d], kQuarterEnds[q]);
        rule.first[q] = static_cast<std::int8_t>(child.first);
        rule.second[q] = static_cast<std::int8_t>(child.second);
      }
    }
  }
  return rules;
}

}  // namespace

const TransmissionRules kTransmissionRules = build_rules();

}  // namespace pedsim
