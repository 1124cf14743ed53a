#include "core/transmission.hpp"

#include <algorithm>
#include <utility>

namespace pedsim {

namespace {

bool is_valid(Genotype g) { return g.first >= 1 && g.second <= 3 && g.first <= g.second; }
bool is_homozygous(Genotype g) { return g.first == g.second; }

Genotype sorted_pair(std::int32_t a, std::int32_t b) { return {std::min(a, b), std::max(a, b)}; }

}  // namespace

bool transmission_draws(Genotype sire, Genotype dam) {
  return is_valid(sire) && is_valid(dam) && !(is_homozygous(sire) && is_homozygous(dam));
}

std::optional<Genotype> offspring_genotype(Genotype sire, Genotype dam, double x) {
  if (!is_valid(sire) || !is_valid(dam)) return std::nullopt;
  if (is_homozygous(sire) && is_homozygous(dam)) return sorted_pair(sire.first, dam.first);

  // The leading parent is the heterozygous one; of two heterozygous parents,
  // the one first in the order 1/2, 1/3, 2/3. Its allele is picked by the half
  // in which the one draw lies, the other parent's by the quarter.
  Genotype lead = sire;
  Genotype other = dam;
  const bool swap = is_homozygous(sire) ||
                    (!is_homozygous(dam) &&
                     std::pair(dam.first, dam.second) < std::pair(sire.first, sire.second));
  if (swap) std::swap(lead, other);

  if (x <= 0.25) return sorted_pair(lead.first, other.first);
  if (x <= 0.5) return sorted_pair(lead.first, other.second);
  if (x <= 0.75) return sorted_pair(lead.second, other.first);
  return sorted_pair(lead.second, other.second);
}

std::optional<Genotype> transmit(Genotype sire, Genotype dam, UniformStream& stream) {
  const double x = transmission_draws(sire, dam) ? stream.draw_uniform() : 0.0;
  return offspring_genotype(sire, dam, x);
}

void transmission(Run& run, std::int32_t sire, std::int32_t dam, std::int32_t child) {
  const auto g =
      transmit({run.IV51[sire], run.IV52[sire]}, {run.IV51[dam], run.IV52[dam]}, run.stream);
  if (!g) return;
  run.IV51[child] = g->first;
  run.IV52[child] = g->second;
}

}  // namespace pedsim
