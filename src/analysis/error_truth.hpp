#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "pedsim/pedsim.hpp"

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
// panel allows, so each animal is read once.
void for_each_checked_near_altered(
    const Pedigree& pedigree, const Panel& panel,
    const std::function<void(std::int32_t, std::size_t, std::int32_t, bool)>& checked);

// The panel's error figures under a model other than the design's.
struct RecordFigures {
  std::int64_t genotypes = 0;  // animals x markers
  std::int64_t called = 0;
  std::int64_t altered = 0;
  std::int64_t detectable = 0;
  double call_rate() const { return genotypes == 0 ? 0 : double(called) / double(genotypes); }
  double error_rate() const { return called == 0 ? 0 : double(altered) / double(called); }
};
RecordFigures record_figures(const Pedigree& pedigree, const Panel& panel);

// Per altered genotype of the panel, in its order: 1 when detectable.
std::vector<std::uint8_t> detectable_flags(const Pedigree& pedigree, const Panel& panel);

}  // namespace pedsim
