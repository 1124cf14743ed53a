#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "pedsim/pedsim.hpp"

namespace pedsim {

// Every animal's offspring, for checks that look down the pedigree.
class Offspring {
 public:
  explicit Offspring(const Pedigree& pedigree);
  std::span<const std::int32_t> of(std::int32_t animal) const {
    return {children_.data() + start_[static_cast<std::size_t>(animal)],
            children_.data() + start_[static_cast<std::size_t>(animal) + 1]};
  }

 private:
  std::vector<std::size_t> start_;
  std::vector<std::int32_t> children_;
};

// Whether `animal`'s recorded genotype at `marker`, called, cannot come from
// the recorded genotypes of its parents that are called there.
bool conflicts_with_parents(const Pedigree& pedigree, const Panel& panel, std::int32_t animal,
                            std::int32_t marker);

// Whether the altered genotype (animal, marker) shows on the recorded data:
// it conflicts with its called parents, or a called offspring's genotype
// conflicts with its called parents (this animal among them).
bool is_detectable(const Pedigree& pedigree, const Panel& panel, const Offspring& offspring,
                   std::int32_t animal, std::int32_t marker);

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
