#pragma once

#include <cassert>
#include <cstdint>
#include <string>
#include <utility>

#include "core/large_memory.hpp"
#include "core/mating_plan.hpp"
#include "core/selection_store.hpp"
#include "output/writers.hpp"
#include "random/uniform_stream.hpp"

namespace pedsim {

// A column of integers indexed from 1, allocated once at its final size and
// cleared to 0. Every value is a 32-bit signed integer to its users; codes
// that only ever take a few small values (sex, alleles, flags) are stored in
// one byte, which keeps the table small and the rows that breeding and the
// output pass look up at random in the cache.
template <typename T>
class BasicColumn {
 public:
  BasicColumn() = default;
  // Stops the run with the allocation diagnostic when memory is short.
  explicit BasicColumn(std::int32_t size);
  BasicColumn(BasicColumn&& other) noexcept { swap(other); }
  BasicColumn& operator=(BasicColumn&& other) noexcept {
    swap(other);
    return *this;
  }
  BasicColumn(const BasicColumn&) = delete;
  BasicColumn& operator=(const BasicColumn&) = delete;
  ~BasicColumn() { release_zeroed(data_, bytes()); }

  T& operator[](std::int32_t i) {
    assert(i >= 1 && i <= size_);
    return data_[static_cast<std::size_t>(i)];
  }
  std::int32_t operator[](std::int32_t i) const {
    assert(i >= 1 && i <= size_);
    return data_[static_cast<std::size_t>(i)];
  }
  std::int32_t size() const { return size_; }
  // Asks for row i to be fetched into the cache ahead of its use.
  void prefetch(std::int32_t i) const { __builtin_prefetch(data_ + i); }
  // The whole allocation, element 0 included.
  BackgroundPopulator::Block storage() { return {data_, bytes()}; }
  // Elements 1..size() as a contiguous range.
  T* begin() { return data_ + 1; }
  T* end() { return data_ + 1 + size_; }

 private:
  // Element 0 is allocated but unused, so that rows are numbered from 1.
  std::size_t bytes() const { return (static_cast<std::size_t>(size_) + 1) * sizeof(T); }
  void swap(BasicColumn& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
  }
  T* data_ = nullptr;
  std::int32_t size_ = 0;
};

using Column = BasicColumn<std::int32_t>;
// A column of small codes, -128 to 127.
using CodeColumn = BasicColumn<std::int8_t>;

extern template class BasicColumn<std::int32_t>;
extern template class BasicColumn<std::int8_t>;

// The animal numbers of the table's rows: row i holds animal i from the
// moment it is created (the founders at set-up, offspring as they are bred)
// up to `created`, the last row created so far; rows above it hold 0, so
// rows never filled keep 0. A rule rather than a stored column, since it
// would only ever hold its own row numbers.
class AnimalNumbers {
 public:
  explicit AnimalNumbers(const std::int32_t& created) : created_(&created) {}
  std::int32_t operator[](std::int32_t i) const { return i >= 1 && i <= *created_ ? i : 0; }

 private:
  const std::int32_t* created_;
};

// Everything one run works on: its scalars, the animal table, the parent
// lists, the random stream, the console and the two output files. Every phase
// takes the run by reference; nothing is global.
struct Run {
  explicit Run(Console& console_sink) : console(console_sink) {}

  // Parameters from the command line and the counts derived from them.
  std::int32_t ngen = 0;
  std::int32_t n = 0;
  std::int32_t male = 0;
  std::int32_t female = 0;
  std::int32_t ntot = 0;
  std::int32_t ratio = 0;
  std::int32_t lastanimal = 0;
  // The clock sum the stream was seeded from, and where it came from
  // ("clocks", "PEDSIM_SEED" or "--seed").
  std::int32_t seed = 0;
  std::string seed_origin;
  // The step of the loss probability per generation of age: the
  // single-precision 0.1 held as a double.
  double lossrate = 0.0;

  // The animal table, rows 1..ntot, the row number being the animal number.
  AnimalNumbers IV1{lastanimal};  // animal number
  Column IV2;                     // sire, 0 for a founder
  Column IV3;                     // dam, 0 for a founder
  CodeColumn IV4;                 // sex code: 1 male, 2 female
  CodeColumn IV51;                // true first allele
  CodeColumn IV52;                // true second allele
  Column IV7;                     // generation of birth, 0 for a founder
  CodeColumn VC;                  // genotype-lost flag
  CodeColumn GE1;                 // recorded first allele, 0 when not genotyped
  CodeColumn GE2;                 // recorded second allele, 0 when not genotyped

  Column IS;        // sires of the coming generation (male)
  Column ID;        // dams of the coming generation (female)
  CodeColumn SEX;   // founder staging: sex as assigned (n)
  CodeColumn GEN1;  // founder staging: first allele as drawn (n)
  CodeColumn GEN2;  // founder staging: second allele as drawn (n)

  UniformStream stream;
  SelectionStore selection;
  MatingPlan mating_plan;
  Console& console;
  OutputFiles files;
  // Maps the table's pages ahead of the phases that fill it; declared after
  // the columns so that it stops before they are released.
  BackgroundPopulator populator;
};

inline constexpr std::int32_t kMale = 1;
inline constexpr std::int32_t kFemale = 2;

}  // namespace pedsim
