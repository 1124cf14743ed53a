#include "analysis/counts.hpp"

#include "sim/error_injection.hpp"

namespace pedsim {

namespace {

Genotype recorded(const GenotypeStore& genotypes, std::int32_t animal) {
  if (animal == 0) return {};
  return genotypes.recorded_genotype(animal);
}

bool carries(Genotype g, std::int32_t allele) { return g.first == allele || g.second == allele; }
bool is_genotyped(Genotype g) { return g.first != 0; }

}  // namespace

bool is_altered(const Pedigree& pedigree, const GenotypeStore& genotypes, std::int32_t i) {
  const MarkerColumns& marker = genotypes.marker(0);
  return pedigree.animal(i) != 0 && genotypes.lost[i] == 0 &&
         marker.recorded_first[i] != marker.true_first[i];
}

bool is_mendelian_consistent(Genotype child, Genotype sire, Genotype dam) {
  const bool s = is_genotyped(sire);
  const bool d = is_genotyped(dam);
  if (s && d) {
    return (carries(sire, child.first) && carries(dam, child.second)) ||
           (carries(sire, child.second) && carries(dam, child.first));
  }
  if (s) return carries(sire, child.first) || carries(sire, child.second);
  if (d) return carries(dam, child.first) || carries(dam, child.second);
  return true;
}

InconsistencyCount count_inconsistencies(const Pedigree& pedigree, const GenotypeStore& genotypes) {
  InconsistencyCount count;
  const auto altered = [&](std::int32_t animal) { return is_altered(pedigree, genotypes, animal); };
  for (std::int32_t i = 1; i <= pedigree.rows(); ++i) {
    const Genotype child = recorded(genotypes, i);
    if (!is_genotyped(child)) continue;
    const Genotype sire = recorded(genotypes, pedigree.sire[i]);
    const Genotype dam = recorded(genotypes, pedigree.dam[i]);
    if (is_mendelian_consistent(child, sire, dam)) continue;
    const bool involving = altered(i) || (is_genotyped(sire) && altered(pedigree.sire[i])) ||
                           (is_genotyped(dam) && altered(pedigree.dam[i]));
    ++(involving ? count.involving_altered : count.not_involving_altered);
  }
  return count;
}

RunCounts count_run(const Pedigree& p, const GenotypeStore& genotypes) {
  RunCounts counts;
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    ++counts.animals;
    counts.records_lost += genotypes.lost[i];
    if (is_error_candidate(p, genotypes, i)) ++counts.error_candidates;
    if (is_altered(p, genotypes, i)) ++counts.altered;
  }
  const InconsistencyCount inconsistent = count_inconsistencies(p, genotypes);
  counts.inconsistencies = inconsistent.involving_altered + inconsistent.not_involving_altered;
  return counts;
}

}  // namespace pedsim
