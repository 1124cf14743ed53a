#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "analysis/recorded_words.hpp"
#include "pedsim/marker_statistics.hpp"
#include "pedsim/simulation.hpp"

namespace pedsim {

// Whether `animal`'s recorded genotype at `marker`, called, cannot come from
// the recorded genotypes of its parents that are called there.
bool conflicts_with_parents(const Pedigree& pedigree, const Panel& panel, std::int32_t animal,
                            std::int32_t marker);

// Walks every animal that has an altered genotype or a parent with one:
// for each such genotype k of the panel's list (its own or a parent's, at
// marker m), calls checked(animal, k, m, conflict), `conflict` telling
// whether the animal's recorded genotype at m cannot come from its
// parents'. An animal's markers are checked a word at a time where the
// panel allows, so each animal is read once; the calls come animal by
// animal, for animals [from, to).
template <class Checked>
void for_each_checked_near_altered(const Pedigree& pedigree, const Panel& panel, std::int32_t from,
                                   std::int32_t to, Checked&& checked) {
  ConflictWords conflict_words(panel);
  std::vector<std::uint64_t> conflicts;
  const AlteredCell* const first = panel.altered().data();
  for (std::int32_t animal = from; animal < to; ++animal) {
    const std::array<std::int32_t, 3> owners{animal, pedigree.sire[animal], pedigree.dam[animal]};
    bool any = false;
    for (const std::int32_t owner : owners) any = any || !panel.altered_of(owner).empty();
    if (!any) continue;
    const bool words = conflict_words.of(pedigree, animal, conflicts);
    for (const std::int32_t owner : owners) {
      if (owner == 0) continue;
      for (const AlteredCell& cell : panel.altered_of(owner)) {
        const auto m = static_cast<std::size_t>(cell.marker);
        const bool conflict = words ? ((conflicts[m / 64] >> (m % 64)) & 1) != 0
                                    : conflicts_with_parents(pedigree, panel, animal, cell.marker);
        checked(animal, static_cast<std::size_t>(&cell - first), cell.marker, conflict);
      }
    }
  }
}

// Runs walk(half, from, to) over the animals in two halves (0 and 1) side
// by side.
void in_two_halves(const Pedigree& pedigree,
                   const std::function<void(int, std::int32_t, std::int32_t)>& walk);

// The panel's error figures under a model other than the design's.
struct RecordFigures {
  std::int64_t genotypes = 0;  // animals x markers
  std::int64_t called = 0;
  std::int64_t altered = 0;
  std::int64_t detectable = 0;
  // Called genotypes that conflict with their called parents' (PLINK's
  // Mendel errors on two-allele markers).
  std::int64_t inconsistent = 0;
  double call_rate() const { return genotypes == 0 ? 0 : double(called) / double(genotypes); }
  double error_rate() const { return called == 0 ? 0 : double(altered) / double(called); }
};
RecordFigures record_figures(const Pedigree& pedigree, const Panel& panel,
                             const std::vector<std::uint8_t>& detectable);

// The record models' realised rates, given the detectable flags and the
// per-marker table.
RecordSummary summarize_records(const Simulation& run, const std::vector<std::uint8_t>& detectable,
                                const MarkerTable& table);

// Per altered genotype of the panel, in its order: 1 when detectable.
std::vector<std::uint8_t> detectable_flags(const Pedigree& pedigree, const Panel& panel);

}  // namespace pedsim
