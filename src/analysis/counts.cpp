#include "analysis/counts.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>

#include "analysis/error_truth.hpp"
#include "analysis/marker_counts.hpp"
#include "analysis/recorded_words.hpp"
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

bool is_altered_at(const Panel& panel, std::int32_t animal, std::int32_t m) {
  const std::int32_t code = panel.replacement(animal, m);
  return code != 0 && code != panel.true_allele(panel.sample(animal), m, 0);
}

namespace {

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

AnimalTruth animal_truth(const Simulation& run) {
  const std::int32_t n = run.pedigree.created();
  AnimalTruth t;
  for (auto* column : {&t.true_first, &t.true_second, &t.recorded_first, &t.recorded_second}) {
    column->resize(static_cast<std::size_t>(n));
  }
  t.lost.resize(static_cast<std::size_t>(n));
  t.altered.resize(static_cast<std::size_t>(n));
  if (!run.has_panel()) {
    const MarkerColumns& m = run.genotypes.marker(0);
    for (std::int32_t i = 1; i <= n; ++i) {
      const auto k = static_cast<std::size_t>(i - 1);
      t.true_first[k] = m.true_first[i];
      t.true_second[k] = m.true_second[i];
      t.recorded_first[k] = m.recorded_first[i];
      t.recorded_second[k] = m.recorded_second[i];
      t.lost[k] = run.genotypes.lost[i];
      t.altered[k] = is_altered(run.pedigree, run.genotypes, i) ? 1 : 0;
    }
    return t;
  }
  const Panel& panel = run.panel;
  for (std::int32_t i = 1; i <= n; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    t.true_first[k] = panel.true_allele(i, 0, 0);
    t.true_second[k] = panel.true_allele(i, 0, 1);
    t.recorded_first[k] = panel.recorded_allele(i, 0, 0);
    t.recorded_second[k] = panel.recorded_allele(i, 0, 1);
    t.lost[k] = panel.lost(i) ? 1 : 0;
    t.altered[k] = panel.altered_of(i).empty() ? 0 : 1;
  }
  for (const std::int32_t animal : panel.candidates()) {
    if (animal > n) continue;
    for (std::int32_t m = 0; m < panel.markers(); ++m) {
      if (!is_altered_at(panel, animal, m)) continue;
      t.altered[static_cast<std::size_t>(animal - 1)] = 1;
      break;
    }
  }
  return t;
}

namespace {

// Altered genotypes and animals: the design's rule's replacement codes, or
// another model's list.
void count_altered(const Panel& panel, PanelCounts& counts) {
  for (const std::int32_t animal : panel.candidates()) {
    std::int64_t altered = 0;
    for (std::int32_t m = 0; m < panel.markers(); ++m) altered += is_altered_at(panel, animal, m);
    counts.altered_genotypes += altered;
    counts.altered_animals += altered > 0 ? 1 : 0;
  }
  counts.altered_genotypes += static_cast<std::int64_t>(panel.altered().size());
  for (std::int32_t i = 1; i <= panel.animals(); ++i) {
    counts.altered_animals += panel.altered_of(i).empty() ? 0 : 1;
  }
}

// A panel's true genotypes are Mendelian, so a recorded genotype conflicts
// with its parents' only where the records depart from the truth: an
// altered genotype in the trio, a recorded parent that is not the true one,
// or records typed from another animal's sample. Per animal, 1 when its
// trio is checked at every marker: under the design's rule, an animal with
// a genotyped candidate parent (candidates' replacement codes are not
// listed); a recorded parent that is not the true one; its own records or
// a parent's from another sample.
std::vector<std::uint8_t> checked_whole(const Simulation& run) {
  const Pedigree& p = run.pedigree;
  const Panel& panel = run.panel;
  std::vector<std::uint8_t> whole(static_cast<std::size_t>(p.created()) + 1);
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    whole[static_cast<std::size_t>(i)] =
        !panel.candidates().empty() && has_candidate_parent(p, panel, i);
  }
  for (const PedigreeChange& change : run.pedigree_changes) {
    whole[static_cast<std::size_t>(change.animal)] = 1;
  }
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    if (panel.sample(i) != i) whole[static_cast<std::size_t>(i)] = 1;
  }
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    for (const std::int32_t parent : {p.sire[i], p.dam[i]}) {
      if (parent != 0 && panel.sample(parent) != parent) whole[static_cast<std::size_t>(i)] = 1;
    }
  }
  return whole;
}

// The recorded genotypes of an animal and its recorded parents, a row of
// every marker each, for checks across the whole panel.
class TrioRows {
 public:
  explicit TrioRows(const Panel& panel) : panel_(panel), conflict_words_(panel) {
    for (auto& row : rows_) row.resize(2 * static_cast<std::size_t>(panel.markers()));
  }

  // Calls conflict(m) at each marker where `animal`'s recorded genotype
  // cannot come from its recorded parents': a word of markers at a time
  // where the panel allows.
  template <class Conflict>
  void for_each_conflict(const Pedigree& p, std::int32_t animal, Conflict&& conflict) {
    if (conflict_words_.of(p, animal, words_)) {
      for_each_marker(words_, conflict);
      return;
    }
    const std::array<std::int32_t, 3> trio{animal, p.sire[animal], p.dam[animal]};
    for (std::size_t k = 0; k < 3; ++k) {
      if (trio[k] == 0) {
        std::fill(rows_[k].begin(), rows_[k].end(), 0);
      } else {
        panel_.recorded_alleles(trio[k], 0, panel_.markers(), rows_[k].data(), 2);
      }
    }
    for (std::int32_t m = 0; m < panel_.markers(); ++m) {
      const auto g = [&](std::size_t k) {
        const std::uint16_t* cell = rows_[k].data() + 2 * static_cast<std::size_t>(m);
        return Genotype{cell[0], cell[1]};
      };
      const Genotype sire = panel_.passes(animal, true, m) ? g(1) : Genotype{};
      if (g(0).first != 0 && !is_mendelian_consistent(g(0), sire, g(2))) conflict(m);
    }
  }

 private:
  const Panel& panel_;
  ConflictWords conflict_words_;
  std::vector<std::uint64_t> words_;
  std::array<std::vector<std::uint16_t>, 3> rows_;
};

// Whether any of `animals` (0: none) holds an altered genotype at marker m.
bool any_altered_at(const Panel& panel, std::initializer_list<std::int32_t> animals,
                    std::int32_t m) {
  for (const std::int32_t a : animals) {
    if (a != 0 && (is_altered_at(panel, a, m) || panel.altered_at(a, m) != nullptr)) return true;
  }
  return false;
}

// The conflicts of the animals checked at every marker.
void count_whole_trios(const Pedigree& p, const Panel& panel,
                       const std::vector<std::uint8_t>& whole, PanelCounts& counts) {
  TrioRows trio(panel);
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    if (whole[static_cast<std::size_t>(i)] == 0 || panel.lost(i)) continue;
    std::int64_t inconsistent = 0;
    bool involving = false;
    trio.for_each_conflict(p, i, [&](std::int32_t m) {
      ++inconsistent;
      ++counts.inconsistent_by_marker[static_cast<std::size_t>(m)];
      involving = involving || any_altered_at(panel, {i, p.sire[i], p.dam[i]}, m);
    });
    counts.inconsistent_genotypes += inconsistent;
    counts.inconsistent_animals += inconsistent > 0 ? 1 : 0;
    counts.inconsistent_animals_involving_altered += involving ? 1 : 0;
  }
}

// The conflicts of the other animals: in a trio with an altered genotype
// of another model's list, at its marker.
// With `detectable`, also sets the flag of each altered genotype whose
// check fails.
void count_near_altered_cells(const Pedigree& p, const Panel& panel,
                              const std::vector<std::uint8_t>& whole, PanelCounts& counts,
                              std::vector<std::uint8_t>* detectable) {
  PanelCounts halves[2];
  in_two_halves(p, [&](int half, std::int32_t from, std::int32_t to) {
    PanelCounts& part = halves[half];
    part.inconsistent_by_marker.assign(counts.inconsistent_by_marker.size(), 0);
    // An animal's inconsistent markers, each once (a marker may hold an
    // altered genotype of the animal and of a parent): the checks come
    // animal by animal, and the marks are cleared as each animal ends.
    std::vector<std::uint8_t> marked(part.inconsistent_by_marker.size(), 0);
    std::vector<std::int32_t> markers;
    std::int32_t current = 0;
    const auto count_animal = [&] {
      part.inconsistent_genotypes += static_cast<std::int64_t>(markers.size());
      part.inconsistent_animals += markers.empty() ? 0 : 1;
      // Each conflict found here is at a marker of an altered genotype.
      part.inconsistent_animals_involving_altered += markers.empty() ? 0 : 1;
      for (const std::int32_t m : markers) {
        ++part.inconsistent_by_marker[static_cast<std::size_t>(m)];
        marked[static_cast<std::size_t>(m)] = 0;
      }
      markers.clear();
    };
    for_each_checked_near_altered(
        p, panel, from, to,
        [&](std::int32_t animal, std::size_t k, std::int32_t marker, bool conflict) {
          if (animal != current) {
            count_animal();
            current = animal;
          }
          if (conflict && detectable != nullptr) {
            // A parent's genotype is checked in each offspring's trio,
            // which may lie in either half.
            std::atomic_ref<std::uint8_t>((*detectable)[k]).store(1, std::memory_order_relaxed);
          }
          if (!conflict || whole[static_cast<std::size_t>(animal)] != 0) return;
          std::uint8_t& mark = marked[static_cast<std::size_t>(marker)];
          if (mark == 0) markers.push_back(marker);
          mark = 1;
        });
    count_animal();
  });
  for (const PanelCounts& part : halves) {
    counts.inconsistent_genotypes += part.inconsistent_genotypes;
    counts.inconsistent_animals += part.inconsistent_animals;
    counts.inconsistent_animals_involving_altered += part.inconsistent_animals_involving_altered;
    for (std::size_t m = 0; m < part.inconsistent_by_marker.size(); ++m) {
      counts.inconsistent_by_marker[m] += part.inconsistent_by_marker[m];
    }
  }
}

}  // namespace

PanelCounts count_panel(const Simulation& run, std::vector<std::uint8_t>* detectable) {
  PanelCounts counts;
  counts.inconsistent_by_marker.assign(static_cast<std::size_t>(run.panel.markers()), 0);
  count_altered(run.panel, counts);
  const std::vector<std::uint8_t> whole = checked_whole(run);
  count_whole_trios(run.pedigree, run.panel, whole, counts);
  if (detectable != nullptr) detectable->assign(run.panel.altered().size(), 0);
  count_near_altered_cells(run.pedigree, run.panel, whole, counts, detectable);
  return counts;
}

void RunChecks::check() {
  if (checked_) return;
  counts_ = count_panel(run_, &detectable_);
  checked_ = true;
}

const PanelCounts& RunChecks::panel_counts() {
  check();
  return counts_;
}

const std::vector<std::uint8_t>& RunChecks::detectable() {
  check();
  return detectable_;
}

const MarkerTable& RunChecks::marker_table() {
  if (!marker_table_) {
    marker_table_ =
        pedsim::marker_table(count_markers(run_, panel_counts().inconsistent_by_marker));
  }
  return *marker_table_;
}

PedigreeErrorCounts count_pedigree_errors(const std::vector<PedigreeChange>& changes) {
  PedigreeErrorCounts c;
  for (const PedigreeChange& change : changes) {
    c.wrong_sires += change.recorded_sire != change.true_sire && change.recorded_sire != 0;
    c.missing_sires += change.recorded_sire == 0 && change.true_sire != 0;
    c.wrong_dams += change.recorded_dam != change.true_dam && change.recorded_dam != 0;
    c.missing_dams += change.recorded_dam == 0 && change.true_dam != 0;
    c.swapped_samples += change.sample != change.animal;
    c.animals_with_changed_parents +=
        change.recorded_sire != change.true_sire || change.recorded_dam != change.true_dam;
  }
  return c;
}

RunCounts count_run(const Simulation& run, RunChecks& checks) {
  if (!run.has_panel()) return count_run(run.pedigree, run.genotypes);
  RunCounts counts;
  const Panel& panel = run.panel;
  for (std::int32_t i = 1; i <= run.pedigree.created(); ++i) {
    ++counts.animals;
    counts.records_lost += panel.lost(i) ? 1 : 0;
  }
  counts.error_candidates = run.error_candidates;
  const PanelCounts& panel_counts = checks.panel_counts();
  if (!run.records.has_design_records()) {
    counts.records = record_figures(run.pedigree, panel, checks.detectable());
    counts.records->inconsistent = panel_counts.inconsistent_genotypes;
  }
  if (run.records.has_pedigree_errors())
    counts.pedigree = count_pedigree_errors(run.pedigree_changes);
  counts.altered = panel_counts.altered_animals;
  counts.inconsistencies = panel_counts.inconsistent_animals;
  return counts;
}

}  // namespace pedsim
