#include "analysis/counts.hpp"

#include "sim/error_injection.hpp"

namespace pedsim {

namespace {

Genotype recorded(const Pedigree& pedigree, std::int32_t animal) {
  if (animal == 0) return {};
  return pedigree.recorded_genotype(animal);
}

bool carries(Genotype g, std::int32_t allele) { return g.first == allele || g.second == allele; }
bool is_genotyped(Genotype g) { return g.first != 0; }

}  // namespace

bool is_altered(const Pedigree& pedigree, std::int32_t i) {
  return pedigree.animal(i) != 0 && pedigree.lost[i] == 0 &&
         pedigree.recorded_allele1[i] != pedigree.true_allele1[i];
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

InconsistencyCount count_inconsistencies(const Pedigree& pedigree) {
  InconsistencyCount count;
  for (std::int32_t i = 1; i <= pedigree.rows(); ++i) {
    const Genotype child = recorded(pedigree, i);
    if (!is_genotyped(child)) continue;
    const Genotype sire = recorded(pedigree, pedigree.sire[i]);
    const Genotype dam = recorded(pedigree, pedigree.dam[i]);
    if (is_mendelian_consistent(child, sire, dam)) continue;
    const bool altered = is_altered(pedigree, i) ||
                         (is_genotyped(sire) && is_altered(pedigree, pedigree.sire[i])) ||
                         (is_genotyped(dam) && is_altered(pedigree, pedigree.dam[i]));
    ++(altered ? count.involving_altered : count.not_involving_altered);
  }
  return count;
}

RunCounts count_run(const Pedigree& p) {
  RunCounts counts;
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    ++counts.animals;
    counts.records_lost += p.lost[i];
    if (is_error_candidate(p, i)) ++counts.error_candidates;
    if (is_altered(p, i)) ++counts.altered;
  }
  const InconsistencyCount inconsistent = count_inconsistencies(p);
  counts.inconsistencies = inconsistent.involving_altered + inconsistent.not_involving_altered;
  return counts;
}

}  // namespace pedsim
