#pragma once

// Slow, literal versions of the model's procedures: one number drawn at a
// time, every comparison spelled out with its constants, the shuffle as a
// quadratic selection sort. They share nothing with the library but its data
// types and the random stream, so that tests can hold the fast code against
// them.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pedsim/pedsim.hpp"
#include "random/uniform_stream.hpp"
#include "sim/parent_lists.hpp"

namespace pedsim::reference {

// A matrix of doubles with rows 1..nrow and columns 1..ncol.
class KeyMatrix {
 public:
  KeyMatrix(std::int32_t nrow, std::int32_t ncol);
  double& at(std::int32_t row, std::int32_t col) { return data_[index(row, col)]; }
  double at(std::int32_t row, std::int32_t col) const { return data_[index(row, col)]; }
  std::int32_t nrow() const { return nrow_; }
  std::int32_t ncol() const { return ncol_; }

 private:
  std::size_t index(std::int32_t row, std::int32_t col) const {
    return static_cast<std::size_t>(row - 1) * static_cast<std::size_t>(ncol_) +
           static_cast<std::size_t>(col - 1);
  }
  std::int32_t nrow_;
  std::int32_t ncol_;
  std::vector<double> data_;
};

// Selection sort of the rows on column `kcol`: for each row m in turn, the
// first row below it holding the smallest key below it changes places with
// row m when that key is strictly smaller.
void selection_sort_rows(KeyMatrix& matrix, std::int32_t kcol);

// One key per element drawn in list order, rows sorted by key.
void shuffle_literally(std::span<std::int32_t> list, UniformStream& stream);

// Every ordered pair of parent genotypes, as a table: genotypes written as
// two digits (12 is 1/2), the number of draws, and the offspring for a draw
// in each quarter (x <= 0.25, <= 0.5, <= 0.75, above).
struct TransmissionRow {
  int sire, dam, draws;
  std::array<int, 4> offspring;
};
extern const std::array<TransmissionRow, 36> kTransmissionTable;

// The offspring of two parents by the table, drawing the row's number of
// draws; none (and no draw) for a parent outside the six genotypes.
std::optional<Genotype> transmit(Genotype sire, Genotype dam, UniformStream& stream);

// The phases, one number at a time.
void create_founders(const Parameters& p, Pedigree& pedigree, GenotypeStore& genotypes,
                     UniformStream& stream, ParentLists& parents);
std::int32_t mate_generation(const Parameters& p, Pedigree& pedigree, GenotypeStore& genotypes,
                             const ParentLists& parents, UniformStream& stream, std::int32_t g);
void select_parents(const Pedigree& pedigree, ParentLists& parents, UniformStream& stream);
void lose_genotypes(std::int32_t generations, const Pedigree& pedigree, GenotypeStore& genotypes,
                    UniformStream& stream);
std::vector<AlteredAnimal> inject_errors(const Pedigree& pedigree, GenotypeStore& genotypes,
                                         UniformStream& stream);

// A whole run, choosing parents after the last generation too, from the
// stream seeded with `seed`, or from `stream` as it stands.
Simulation simulate(const Parameters& p, std::int32_t seed);
Simulation simulate(const Parameters& p, UniformStream stream);

// The outputs laid out field by field.
std::string ped_pre(const Pedigree& pedigree, const GenotypeStore& genotypes);
std::string ped_errors(const std::vector<AlteredAnimal>& altered);
// The console after the echo lines.
std::string console(const Simulation& run);

}  // namespace pedsim::reference
