#pragma once

#include <vector>

#include "pedsim/simulation.hpp"
#include "random/uniform_stream.hpp"
#include "sim/parent_lists.hpp"

namespace pedsim {

// The founder genotype for a draw: Hardy-Weinberg proportions of the
// model's allele frequencies, genotypes in the order 1/1, 1/2, ..., 2/2, ...,
// each taking the draws up to its cumulative share in single precision; a
// draw equal to a bound belongs to the genotype that the bound closes.
class FounderGenotypes {
 public:
  explicit FounderGenotypes(const std::vector<double>& allele_frequencies);
  Genotype operator()(double x) const {
    for (const auto& c : classes_) {
      if (x <= c.upper) return c.genotype;
    }
    return last_;
  }

 private:
  struct Class {
    double upper;  // the class takes every draw up to and including this value
    Genotype genotype;
  };
  std::vector<Class> classes_;
  Genotype last_;
};

// Creates founders 1..founders in the pedigree, one draw each in order (the
// first `males` are male, the rest female) for their genotype at marker 0,
// and lists them as the first sires and dams in that order.
void create_founders(const Parameters& parameters, const Model& model, Pedigree& pedigree,
                     GenotypeStore& genotypes, UniformStream& stream, ParentLists& parents);

}  // namespace pedsim
