#pragma once

#include <cstdint>
#include <vector>

#include "pedsim/simulation.hpp"
#include "random/uniform_stream.hpp"

namespace pedsim {

// Whether row i may receive a genotyping error: it is genotyped, both parents
// are known, and neither parent is genotyped (tested in that order).
bool is_error_candidate(const Pedigree& pedigree, const GenotypeStore& genotypes, std::int32_t i);

// The wrong first allele for a second draw y, by the cumulative bounds of
// the model's replacement shares (the design's: 1, 2, 3 or 4 by quarters);
// only the last bound sends an equal draw up (0.75 gives 4).
class ReplacementAlleles {
 public:
  explicit ReplacementAlleles(const std::vector<double>& shares);
  std::int32_t operator()(double y) const;

 private:
  std::vector<double> bounds_;
};

// Told of the injection's progress, so that outputs can be written while it
// goes on: each alteration as it is made, and the rows that are final.
class InjectionObserver {
 public:
  virtual void altered(const AlteredAnimal& animal) = 0;
  // Rows 1..last_row will not change again.
  virtual void rows_final(std::int32_t last_row) = 0;

 protected:
  ~InjectionObserver() = default;
};

// Walks the rows in order; a candidate draws one number and, at or below the
// model's error probability, a second that picks a new recorded first allele.
// Each change is appended to `altered` (and told to the observer, if any).
void inject_errors(const Model& model, const Pedigree& pedigree, GenotypeStore& genotypes,
                   UniformStream& stream, std::vector<AlteredAnimal>& altered,
                   InjectionObserver* observer = nullptr);

}  // namespace pedsim
