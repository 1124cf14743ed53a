#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "pedsim/markers.hpp"

namespace pedsim {

// The panel as the rules fill it: its writable side, which the public
// interface leaves out.
class PanelFill {
 public:
  explicit PanelFill(Panel& panel) : panel_(panel) {}

  void set_bred(std::int32_t animals) { panel_.bred_ = animals; }
  // Per animal, 1 for a male.
  void set_sexes(std::vector<std::uint8_t> males) { panel_.males_ = std::move(males); }
  // Haplotype `side` of `animal`, to write (see Panel::haplotype).
  std::uint64_t* haplotype(std::int32_t animal, int side) { return panel_.haplotype(animal, side); }
  void set_candidates(const std::vector<std::int32_t>& animals) { panel_.set_candidates(animals); }
  // Candidate `c`'s replacement codes, to write.
  std::uint64_t* replacements(std::size_t c) { return panel_.replacements(c); }
  void set_lost(std::int32_t animal) { panel_.set_lost(animal); }
  // Makes room for a bit per genotype, set where the genotype is missing.
  void add_missing_mask() { panel_.add_missing_mask(); }
  std::uint64_t* missing(std::int32_t animal) { return panel_.missing(animal); }
  // The genotypes another error model altered, in animal and marker order:
  // counts[i] of them are animal i's (counts: one per animal, 0 first).
  void set_altered(std::vector<AlteredCell> cells, std::span<const std::uint32_t> counts) {
    panel_.set_altered(std::move(cells), counts);
  }
  // Exchanges the records of each pair (sample mix-ups): afterwards the
  // records under one animal's number are the other's sample, with its
  // missing genotypes and errors.
  void swap_records(std::span<const std::pair<std::int32_t, std::int32_t>> pairs) {
    panel_.swap_records(pairs);
  }

 private:
  Panel& panel_;
};

}  // namespace pedsim
