#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace pedsim {

// Kinship on a pedigree through its ancestors (Meuwissen and Luo, 1992): an
// animal's relationship to itself is the sum, over the animal and its
// ancestors, of the squared share of its genes each passes down times the
// variance that ancestor's own Mendelian sampling adds; the kinship of two
// animals, of the products of their shares. Animals are numbered parents
// first (index 0: unknown); the work is in proportion to the ancestors.
class PedigreeKinship {
 public:
  PedigreeKinship(std::vector<std::int32_t> sire, std::vector<std::int32_t> dam);

  double inbreeding(std::int32_t animal) const { return inbreeding_[animal]; }
  double kinship(std::int32_t a, std::int32_t b) const;

 private:
  // The animal and its ancestors, each with the share of the animal's
  // genes that comes through it, the youngest first.
  std::vector<std::pair<std::int32_t, double>> ancestry(std::int32_t animal) const;

  std::vector<std::int32_t> sire_, dam_;
  // Index 0: an unknown parent, taken as -1 so that a founder's sampling
  // variance is 1.
  std::vector<double> inbreeding_;
  std::vector<double> sampling_;
  mutable std::vector<double> share_;
};

}  // namespace pedsim
