#include "analysis/counts.hpp"

#include <algorithm>

#include "analysis/error_truth.hpp"
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

namespace {

Genotype panel_recorded(const Panel& panel, std::int32_t animal, std::int32_t m) {
  if (animal == 0) return {};
  return {panel.recorded_allele(animal, m, 0), panel.recorded_allele(animal, m, 1)};
}

bool is_altered_at(const Panel& panel, std::int32_t animal, std::int32_t m) {
  const std::int32_t code = panel.replacement(animal, m);
  return code != 0 && code != panel.true_allele(animal, m, 0);
}

bool has_candidate_parent(const Pedigree& p, const Panel& panel, std::int32_t i) {
  for (const std::int32_t parent : {p.sire[i], p.dam[i]}) {
    if (parent != 0 && !panel.lost(parent) &&
        std::binary_search(panel.candidates().begin(), panel.candidates().end(), parent)) {
      return true;
    }
  }
  return false;
}

}  // namespace

namespace {

// Under a model other than the design's, from the list of altered
// genotypes: a conflict with a parent needs an altered genotype in the trio.
PanelCounts count_altered_cells(const Pedigree& p, const Panel& panel) {
  PanelCounts counts;
  counts.inconsistent_by_marker.assign(static_cast<std::size_t>(panel.markers()), 0);
  const Offspring offspring(p);
  std::vector<std::pair<std::int32_t, std::int32_t>> inconsistent;
  std::int32_t last_animal = 0;
  for (const AlteredCell& cell : panel.altered()) {
    ++counts.altered_genotypes;
    if (cell.animal != last_animal) ++counts.altered_animals;
    last_animal = cell.animal;
    if (conflicts_with_parents(p, panel, cell.animal, cell.marker)) {
      inconsistent.emplace_back(cell.animal, cell.marker);
    }
    for (const std::int32_t child : offspring.of(cell.animal)) {
      if (conflicts_with_parents(p, panel, child, cell.marker)) {
        inconsistent.emplace_back(child, cell.marker);
      }
    }
  }
  std::sort(inconsistent.begin(), inconsistent.end());
  inconsistent.erase(std::unique(inconsistent.begin(), inconsistent.end()), inconsistent.end());
  counts.inconsistent_genotypes = static_cast<std::int64_t>(inconsistent.size());
  last_animal = 0;
  for (const auto& [animal, marker] : inconsistent) {
    if (animal != last_animal) ++counts.inconsistent_animals;
    last_animal = animal;
    ++counts.inconsistent_by_marker[static_cast<std::size_t>(marker)];
  }
  return counts;
}

}  // namespace

PanelCounts count_panel(const Pedigree& p, const Panel& panel) {
  if (panel.candidates().empty()) return count_altered_cells(p, panel);
  PanelCounts counts;
  counts.inconsistent_by_marker.assign(static_cast<std::size_t>(panel.markers()), 0);
  for (const std::int32_t animal : panel.candidates()) {
    std::int64_t altered = 0;
    for (std::int32_t m = 0; m < panel.markers(); ++m) altered += is_altered_at(panel, animal, m);
    counts.altered_genotypes += altered;
    counts.altered_animals += altered > 0 ? 1 : 0;
  }
  // A panel's true genotypes are Mendelian and only candidates' records
  // differ from them; a candidate's parents are not genotyped: only an
  // animal with a genotyped candidate parent can conflict with a parent.
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    if (panel.lost(i) || !has_candidate_parent(p, panel, i)) continue;
    std::int64_t inconsistent = 0;
    for (std::int32_t m = 0; m < panel.markers(); ++m) {
      const bool conflict = !is_mendelian_consistent(panel_recorded(panel, i, m),
                                                     panel_recorded(panel, p.sire[i], m),
                                                     panel_recorded(panel, p.dam[i], m));
      inconsistent += conflict;
      counts.inconsistent_by_marker[static_cast<std::size_t>(m)] += conflict;
    }
    counts.inconsistent_genotypes += inconsistent;
    counts.inconsistent_animals += inconsistent > 0 ? 1 : 0;
  }
  return counts;
}

PedigreeErrorCounts count_pedigree_errors(const std::vector<PedigreeChange>& changes) {
  PedigreeErrorCounts c;
  for (const PedigreeChange& change : changes) {
    c.wrong_sires += change.recorded_sire != change.true_sire && change.recorded_sire != 0;
    c.missing_sires += change.recorded_sire == 0 && change.true_sire != 0;
    c.wrong_dams += change.recorded_dam != change.true_dam && change.recorded_dam != 0;
    c.missing_dams += change.recorded_dam == 0 && change.true_dam != 0;
  }
  return c;
}

RunCounts count_run(const Simulation& run) {
  if (!run.has_panel()) return count_run(run.pedigree, run.genotypes);
  RunCounts counts;
  const Panel& panel = run.panel;
  for (std::int32_t i = 1; i <= run.pedigree.created(); ++i) {
    ++counts.animals;
    counts.records_lost += panel.lost(i) ? 1 : 0;
  }
  counts.error_candidates = static_cast<std::int64_t>(panel.candidates().size());
  const PanelCounts panel_counts = count_panel(run.pedigree, panel);
  if (!run.records.is_design()) counts.records = record_figures(run.pedigree, panel);
  if (run.records.has_pedigree_errors()) counts.pedigree = count_pedigree_errors(run.pedigree_changes);
  counts.altered = panel_counts.altered_animals;
  counts.inconsistencies = panel_counts.inconsistent_animals;
  return counts;
}

}  // namespace pedsim
