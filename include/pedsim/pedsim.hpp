#pragma once

// pedsim: simulates an animal pedigree that carries one three-allele marker.
//
// The whole library in one header: a run's parameters and seed, the pedigree
// it breeds (true and recorded genotypes), `simulate` to breed one in memory,
// and `write_outputs` to write the run's files from it.
//
//   const pedsim::Parameters parameters = pedsim::Parameters::make(3, 20, 5);
//   const pedsim::Simulation run = pedsim::simulate(parameters, pedsim::Seed{74565});
//   pedsim::StringSink pedigree, errors;
//   pedsim::write_outputs(run, {.pedigree = &pedigree, .errors = &errors});

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pedsim/model.hpp"
#include "pedsim/options.hpp"

namespace pedsim {

// Arguments that no pedigree can be bred from (no male, fewer founders than
// males, a negative number of generations, fewer dams than sires).
class InvalidParameters : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// A table whose size in bytes does not fit in 32 bits.
class TableTooLarge : public std::length_error {
 public:
  TableTooLarge() : std::length_error("the table's size in bytes does not fit in 32 bits") {}
};

// A failed run's diagnostic: the text for standard error and the exit
// status the command line ends with; for a file that failed, the system's
// error number and the file's full path.
class Stop : public std::runtime_error {
 public:
  Stop(int status, std::string text, int error_number = 0, std::string path = {})
      : std::runtime_error(text),
        status_(status),
        text_(std::move(text)),
        error_number_(error_number),
        path_(std::move(path)) {}
  int status() const { return status_; }
  const std::string& text() const { return text_; }
  int error_number() const { return error_number_; }
  const std::string& path() const { return path_; }

 private:
  int status_;
  std::string text_;
  int error_number_;
  std::string path_;
};

// A column of values indexed from 1, allocated once at its final size and
// cleared to 0. Every value is a 32-bit signed integer to its users; codes
// that only take a few small values (sex, alleles, flags) are stored in one
// byte, which keeps the rows that breeding and error injection look up at
// random in the cache. Memory that cannot be had throws std::bad_alloc; a
// size whose bytes (at 4 per row) do not fit in 32 bits, TableTooLarge.
template <typename T>
class Column {
 public:
  Column() = default;
  explicit Column(std::int32_t size);
  Column(Column&& other) noexcept { swap(other); }
  Column& operator=(Column&& other) noexcept {
    swap(other);
    return *this;
  }
  Column(const Column&) = delete;
  Column& operator=(const Column&) = delete;
  ~Column();

  T& operator[](std::int32_t i) {
    assert(i >= 1 && i <= size_);
    return data_[static_cast<std::size_t>(i)];
  }
  std::int32_t operator[](std::int32_t i) const {
    assert(i >= 1 && i <= size_);
    return data_[static_cast<std::size_t>(i)];
  }
  std::int32_t size() const { return size_; }
  // Elements 1..size() as a contiguous range.
  T* begin() { return data_ + 1; }
  T* end() { return data_ + 1 + size_; }
  const T* begin() const { return data_ + 1; }
  const T* end() const { return data_ + 1 + size_; }
  // Element i is by_row()[i]: for loops that keep a column's address in a
  // local, where stores of one-byte codes elsewhere cannot change it.
  T* by_row() { return data_; }
  const T* by_row() const { return data_; }
  // Asks for element i to be fetched into the cache ahead of its use.
  void prefetch(std::int32_t i) const { __builtin_prefetch(data_ + i); }
  // The whole allocation, element 0 (allocated, never used) included.
  void* storage() const { return data_; }
  std::size_t storage_bytes() const { return (static_cast<std::size_t>(size_) + 1) * sizeof(T); }

 private:
  void swap(Column& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
  }
  T* data_ = nullptr;
  std::int32_t size_ = 0;
};

// Animal numbers, counts and generations.
using AnimalColumn = Column<std::int32_t>;
// Small codes, -128 to 127: sex, alleles, flags.
using CodeColumn = Column<std::int8_t>;

extern template class Column<std::int32_t>;
extern template class Column<std::int8_t>;

inline constexpr std::int32_t kMale = 1;
inline constexpr std::int32_t kFemale = 2;

// A marker genotype: two alleles (the design's marker: each 1, 2 or 3, the
// first at most the second). 0/0 is no genotype (a record removed, a row
// never bred).
struct Genotype {
  std::int32_t first = 0;
  std::int32_t second = 0;
  friend bool operator==(const Genotype&, const Genotype&) = default;
};

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

// The alleles of one marker, one row per animal (rows as in the pedigree):
// the true genotype, and the recorded one (0/0 when not genotyped; an error
// changes a recorded allele).
struct MarkerColumns {
  CodeColumn true_first;
  CodeColumn true_second;
  CodeColumn recorded_first;
  CodeColumn recorded_second;
};

// The genotypes of every animal at every marker, true and recorded, with
// the number of markers and each marker's number of alleles as data, and
// whether each animal's records were removed. The design's run is the store
// of one three-allele marker.
class GenotypeStore {
 public:
  GenotypeStore() = default;
  // Rows 1..animals at each marker; marker m has allele_counts[m] alleles.
  GenotypeStore(std::int32_t animals, std::vector<std::int32_t> allele_counts);

  std::int32_t animals() const { return lost.size(); }
  std::int32_t markers() const { return static_cast<std::int32_t>(markers_.size()); }
  std::int32_t alleles(std::int32_t marker) const {
    return allele_counts_[static_cast<std::size_t>(marker)];
  }
  MarkerColumns& marker(std::int32_t m) { return markers_[static_cast<std::size_t>(m)]; }
  const MarkerColumns& marker(std::int32_t m) const {
    return markers_[static_cast<std::size_t>(m)];
  }
  Genotype true_genotype(std::int32_t animal, std::int32_t m = 0) const {
    const MarkerColumns& c = marker(m);
    return {c.true_first[animal], c.true_second[animal]};
  }
  Genotype recorded_genotype(std::int32_t animal, std::int32_t m = 0) const {
    const MarkerColumns& c = marker(m);
    return {c.recorded_first[animal], c.recorded_second[animal]};
  }

  // Per animal: 1 when its genotype records were removed (at every marker).
  CodeColumn lost;

 private:
  std::vector<MarkerColumns> markers_;
  std::vector<std::int32_t> allele_counts_;
};

// A run's three numbers and the counts derived from them.
struct Parameters {
  std::int32_t generations = 0;  // bred after the founders
  std::int32_t founders = 0;
  std::int32_t males = 0;          // male founders, and sires of every generation
  std::int32_t females = 0;        // founders - males, and dams listed per generation
  std::int32_t rows = 0;           // founders + generations x females
  std::int32_t dams_per_sire = 0;  // females / males, truncated

  // Checks the numbers and derives the counts. Throws InvalidParameters
  // (with a message naming the broken limit and the values) or
  // TableTooLarge.
  static Parameters make(std::int32_t generations, std::int32_t founders, std::int32_t males);
};

// The clock sum that seeds the random stream, where it came from ("clocks",
// "PEDSIM_SEED", "--seed"), and the replicate: replicate r draws from the
// seeded stream jumped ahead by r x 2^44 numbers, so that the replicates of
// one seed are independent runs (replicate 0 is the seeded stream itself).
struct Seed {
  std::int32_t value = 0;
  std::string origin = "PEDSIM_SEED";
  std::int32_t replicate = 0;
  // Reads the clocks: wall-clock seconds plus processor ticks.
  static Seed from_clocks();
};

// Numbers between the starts of two consecutive replicates' streams: runs
// that draw fewer never share a number.
inline constexpr std::uint64_t kReplicateStride = std::uint64_t{1} << 44;
// The largest replicate number.
inline constexpr std::int32_t kMaxReplicate = 99999;

// An animal whose recorded first allele was altered by error injection.
struct AlteredAnimal {
  std::int32_t animal = 0;
  std::int32_t old_allele = 0;  // the recorded first allele before
  friend bool operator==(const AlteredAnimal&, const AlteredAnimal&) = default;
};

// Wall-clock seconds a run spent in each phase.
struct PhaseSeconds {
  double founders = 0;
  double mating = 0;
  double selection = 0;
  double loss = 0;
  double injection = 0;  // with the writing of outputs, when they are streamed
};

// A finished run, in memory.
struct Simulation {
  Parameters parameters;
  Model model;
  Seed seed;
  Pedigree pedigree;
  GenotypeStore genotypes;
  // In the order of "ped.errors".
  std::vector<AlteredAnimal> altered;
  // Offspring created in each generation 1..generations (element 0: founders).
  std::vector<std::int32_t> animals_born;
  // Numbers the run took from its random stream.
  std::uint64_t numbers_drawn = 0;
  PhaseSeconds seconds;
};

// Where bytes go: a file, standard output, a string.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void write(std::string_view bytes) = 0;
};

// A sink that keeps everything written to it.
class StringSink : public ByteSink {
 public:
  void write(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

// The outputs of a run: the console lines after the echo of the arguments
// (a line per generation, the two count lines, the altered animals), the
// pedigree ("ped.pre") and the error list ("ped.errors"). Null: not written.
struct OutputSinks {
  ByteSink* console = nullptr;
  ByteSink* pedigree = nullptr;
  ByteSink* errors = nullptr;
  // The console keeps only the two count lines (no generation lines, no
  // altered animals).
  bool quiet_console = false;
};

// Breeds the pedigree of `parameters` by the rules of `model` (validated:
// InvalidParameters names a value that cannot be used) from the stream of
// `seed` (its replicate 0 to kMaxReplicate, else InvalidParameters):
// founders, generations, genotype loss and error injection. With `outputs`,
// writes the run's outputs as they are formed, exactly as write_outputs
// would write them afterwards. Throws std::bad_alloc when memory is short,
// and Stop when an output cannot be written.
Simulation simulate(const Parameters& parameters, const Seed& seed,
                    const OutputSinks& outputs = {}, const Model& model = {});

// Writes the outputs of a finished run. Throws Stop when a sink fails.
void write_outputs(const Simulation& run, const OutputSinks& outputs);

// Writes the files a command-line run with --outdir `folder` writes: ped.pre,
// ped.errors and run.tsv in `folder` (made, with its parents, when missing),
// and the truth file and summary under the names given, in `folder` too,
// holding the folder's lock as the command line does. Throws Stop: status 2
// for an empty folder name, two names of one file, or another run writing
// the folder; else the diagnostic of the file that cannot be written.
void write_files(const Simulation& run, const std::string& folder,
                 const std::optional<std::string>& truth = std::nullopt,
                 const std::optional<std::string>& summary = std::nullopt);

}  // namespace pedsim
