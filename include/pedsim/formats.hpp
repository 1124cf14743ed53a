#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "pedsim/markers.hpp"
#include "pedsim/records.hpp"
#include "pedsim/relatedness.hpp"

namespace pedsim {

// The files of a format and their writers, inside the library.
struct FormatFiles;

// A file format that holds a run's recorded genotypes and pedigree: a row
// of genotype_formats(). The usage, --format's checks, the README's list
// (checked by a test) and the Python docstring come from the rows.
struct GenotypeFormat {
  // As --format names it: "plink".
  std::string_view name;
  // Its files, for the usage: "ped.bed, .bim, .fam (PLINK 1 binary)".
  std::string_view help;
  // The most alleles per marker its files hold, 0 for any number.
  std::int32_t max_alleles;
  const FormatFiles* files;
};

// Every format, ped.pre's first.
std::span<const GenotypeFormat> genotype_formats();
// The format of this name, or null.
const GenotypeFormat* find_genotype_format(std::string_view name);
// The usage's lines of the formats, each "  NAME  help".
std::string genotype_formats_usage();

// Deflate's level for the compressed formats (VCF, BCF) unless asked:
// level 1 writes 15 % more bytes than level 3 in half the processor time,
// which keeps compression from bounding a large run's wall time.
inline constexpr int kDefaultCompressionLevel = 1;

// The formats a run writes; ped.pre's alone by default.
class Formats {
 public:
  Formats() = default;
  // A comma-separated list of the formats' names; an unknown or empty name
  // stops (status 2) naming --format.
  static Formats parse(std::string_view list);
  bool has(const GenotypeFormat& format) const { return (set_ & bit(format)) != 0; }
  bool has(std::string_view name) const;
  void add(const GenotypeFormat& format) { set_ |= bit(format); }
  bool is_default() const { return set_ == 1; }
  // Deflate's level (0 to 9) for the compressed formats.
  int compression_level() const { return compression_level_; }
  void set_compression_level(int level) { compression_level_ = level; }
  // The list in the table's order: "pre,plink,plink-text,vcf".
  std::string text() const;
  // Stops (status 2) before anything is written when a format cannot hold
  // the genotypes the options give: more alleles than it holds, counting the
  // one an error model may add.
  void check(const MarkerOptions& markers, const RecordOptions& records) const;

  friend bool operator==(const Formats&, const Formats&) = default;

 private:
  static std::uint64_t bit(const GenotypeFormat& format);
  // Bit k: row k of genotype_formats().
  std::uint64_t set_ = 1;
  int compression_level_ = kDefaultCompressionLevel;
};

struct Simulation;

// Writes the files a command-line run with --outdir `folder` writes: the
// genotype files of `formats` (ped.pre by default), ped.errors and run.tsv
// in `folder` (made, with its parents, when missing), the true genotypes in
// the same formats when asked, and the truth file and summary under the
// names given, in `folder` too, holding the folder's lock as the command
// line does; with `relatedness`, segments.tsv, kinship.tsv and pairs.tsv
// as --ibd and --pairs ask. Throws Stop: status 2 for an empty folder name,
// two names of one file, a format that cannot hold the run's genotypes,
// relatedness asked of a run without a panel, or another run writing the
// folder; else the diagnostic of the file that cannot be written.
void write_files(const Simulation& run, const std::string& folder,
                 const std::optional<std::string>& truth = std::nullopt,
                 const std::optional<std::string>& summary = std::nullopt,
                 bool true_genotypes = false, const Formats& formats = {},
                 const RelatednessOptions& relatedness = {});

}  // namespace pedsim
