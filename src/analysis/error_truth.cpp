#include "analysis/error_truth.hpp"

#include <bit>

#include "analysis/counts.hpp"
#include "analysis/recorded_words.hpp"

namespace pedsim {

Offspring::Offspring(const Pedigree& pedigree)
    : start_(static_cast<std::size_t>(pedigree.rows()) + 2) {
  const std::int32_t bred = pedigree.created();
  for (std::int32_t i = 1; i <= bred; ++i) {
    for (const std::int32_t parent : {pedigree.sire[i], pedigree.dam[i]}) {
      if (parent != 0) ++start_[static_cast<std::size_t>(parent) + 1];
    }
  }
  for (std::size_t k = 1; k < start_.size(); ++k) start_[k] += start_[k - 1];
  children_.resize(start_.back());
  std::vector<std::size_t> next(start_.begin(), start_.end() - 1);
  for (std::int32_t i = 1; i <= bred; ++i) {
    for (const std::int32_t parent : {pedigree.sire[i], pedigree.dam[i]}) {
      if (parent != 0) children_[next[static_cast<std::size_t>(parent)]++] = i;
    }
  }
}

namespace {

Genotype recorded(const Panel& panel, std::int32_t animal, std::int32_t marker) {
  if (animal == 0) return {};
  return {panel.recorded_allele(animal, marker, 0), panel.recorded_allele(animal, marker, 1)};
}

}  // namespace

bool conflicts_with_parents(const Pedigree& pedigree, const Panel& panel, std::int32_t animal,
                            std::int32_t marker) {
  if (!panel.called(animal, marker)) return false;
  return !is_mendelian_consistent(recorded(panel, animal, marker),
                                  recorded(panel, pedigree.sire[animal], marker),
                                  recorded(panel, pedigree.dam[animal], marker));
}

bool is_detectable(const Pedigree& pedigree, const Panel& panel, const Offspring& offspring,
                   std::int32_t animal, std::int32_t marker) {
  if (conflicts_with_parents(pedigree, panel, animal, marker)) return true;
  for (const std::int32_t child : offspring.of(animal)) {
    if (conflicts_with_parents(pedigree, panel, child, marker)) return true;
  }
  return false;
}

RecordFigures record_figures(const Pedigree& pedigree, const Panel& panel) {
  RecordFigures f;
  const std::int32_t markers = panel.markers();
  f.genotypes = std::int64_t{pedigree.created()} * markers;
  for (std::int32_t i = 1; i <= pedigree.created(); ++i) {
    if (panel.lost(i)) continue;
    std::int64_t missing = 0;
    if (panel.has_missing_mask()) {
      const std::uint64_t* row = panel.missing(i);
      for (std::size_t w = 0; w < panel.mask_words(); ++w) missing += std::popcount(row[w]);
    }
    f.called += markers - missing;
  }
  f.altered = static_cast<std::int64_t>(panel.altered().size());
  for (const std::uint8_t d : detectable_flags(pedigree, panel)) f.detectable += d;
  return f;
}

namespace {

// The markers at which `animal`'s records or its offspring's conflict with
// their parents' (an animal's checks a word of markers at a time); false
// when words cannot hold the records of one of them.
bool conflicts_near(const Pedigree& pedigree, const Offspring& offspring, std::int32_t animal,
                    ConflictWords& conflict_words, std::vector<std::uint64_t>& shown,
                    std::vector<std::uint64_t>& child) {
  if (!conflict_words.of(pedigree, animal, shown)) return false;
  for (const std::int32_t c : offspring.of(animal)) {
    if (!conflict_words.of(pedigree, c, child)) return false;
    for (std::size_t w = 0; w < shown.size(); ++w) shown[w] |= child[w];
  }
  return true;
}

}  // namespace

std::vector<std::uint8_t> detectable_flags(const Pedigree& pedigree, const Panel& panel) {
  const Offspring offspring(pedigree);
  ConflictWords conflict_words(panel);
  std::vector<std::uint64_t> shown;
  std::vector<std::uint64_t> child;
  std::vector<std::uint8_t> flags;
  flags.reserve(panel.altered().size());
  for (std::int32_t i = 1; i <= panel.animals(); ++i) {
    const std::span<const AlteredCell> cells = panel.altered_of(i);
    if (cells.empty()) continue;
    const bool words = conflicts_near(pedigree, offspring, i, conflict_words, shown, child);
    for (const AlteredCell& cell : cells) {
      const auto m = static_cast<std::size_t>(cell.marker);
      flags.push_back(words ? (shown[m / 64] >> (m % 64)) & 1
                            : is_detectable(pedigree, panel, offspring, i, cell.marker));
    }
  }
  return flags;
}

}  // namespace pedsim
