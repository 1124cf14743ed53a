#pragma once

#include <cstdint>

#include "pedsim/column.hpp"

namespace pedsim {

inline constexpr std::int32_t kMale = 1;
inline constexpr std::int32_t kFemale = 2;

// The animals: one row per animal, the row number being the animal number.
// Founders fill rows 1..founders, offspring follow in order of birth. Rows
// above created() (rows never bred, when the males do not divide the
// females) hold 0 in every column.
class Pedigree {
 public:
  Pedigree() = default;
  explicit Pedigree(std::int32_t rows);

  std::int32_t rows() const { return sire.size(); }
  // Rows 1..created() hold animals created so far.
  std::int32_t created() const { return created_; }
  void add_created(std::int32_t animals) { created_ += animals; }
  // The animal of a row: its row number once created, 0 before.
  std::int32_t animal(std::int32_t row) const { return row >= 1 && row <= created_ ? row : 0; }

  AnimalColumn sire;  // 0 for a founder
  AnimalColumn dam;   // 0 for a founder
  AnimalColumn born;  // generation of birth, 0 for a founder
  CodeColumn sex;     // kMale or kFemale

 private:
  std::int32_t created_ = 0;
};

}  // namespace pedsim
