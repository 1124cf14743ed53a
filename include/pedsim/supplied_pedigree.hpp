#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pedsim {

// How a pedigree file is laid out: a row of pedigree_formats(). Fields are
// split by blanks or tabs; the usage, --pedigree-format's checks and the
// README's list (checked by a test) come from the rows.
struct PedigreeFormat {
  // As --pedigree-format names it: "fam".
  std::string_view name;
  // A file whose name ends so is read in this format ("" for none); a file
  // of no format's ending is read in the first format.
  std::string_view suffix;
  // One line of the usage.
  std::string_view help;
  // The columns (from 0) of the animal, sire, dam and sex.
  std::size_t animal;
  std::size_t sire;
  std::size_t dam;
  std::size_t sex;
  // What a row holds up to the sex column, for messages: " (family,
  // animal, sire, dam, sex)".
  std::string_view columns_text;
  // The sex column may be missing from a row (it is then unknown).
  bool sex_optional;
  // The first row may be a header naming the columns, in any order.
  bool header;
  // Sex codes other than 1, 2, M, F, male and female (PLINK's 0, -9, ...)
  // are an unknown sex; else only 0, NA and '.' are.
  bool any_code_unknown_sex;
  // Rows of animal 0 are rows never bred (pedsim's ped.pre), left out with
  // the generations that hold none but them.
  bool unbred_rows;
};

// Every pedigree format, the one a file of no known ending is read in first.
std::span<const PedigreeFormat> pedigree_formats();
// The format of a name given to --pedigree-format; a stop with status 2
// naming the formats for anything else.
const PedigreeFormat& pedigree_format(std::string_view name);
// The format a file's name implies.
const PedigreeFormat& pedigree_format_of_path(std::string_view path);
// The usage's lines of the formats.
std::string pedigree_formats_usage();

// The longest animal name a pedigree file may hold, in bytes.
inline constexpr std::size_t kMaxNameBytes = 255;

// A pedigree read from a file, its animals numbered 1..n so that parents
// come before their offspring: by generation (1 + the later of its
// parents', founders 0), then in the file's order; parents the file names
// but does not list come after the listed founders, as founders.
struct SuppliedPedigree {
  // Per number (index 0 unused): the animal's name, its sire's and dam's
  // numbers (0: unknown), sex (1 male, 2 female, 0 unknown) and generation.
  std::vector<std::string> names{""};
  std::vector<std::int32_t> sire{0};
  std::vector<std::int32_t> dam{0};
  std::vector<std::int32_t> sex{0};
  std::vector<std::int32_t> generation{0};
  // Parents named but not listed, added as founders, and the names of the
  // first few (a typo in a parent's name shows there).
  static constexpr std::size_t kAddedFoundersNamed = 5;
  std::int32_t added_founders = 0;
  std::vector<std::string> added_founder_names;
  // A header's columns that are not the animal's, sire's, dam's or sex.
  std::vector<std::string> ignored_columns;
  // Per number, 1 for the animals with records (--genotyped); empty: the
  // design's age schedule decides.
  std::vector<std::uint8_t> genotyped;

  std::int32_t animals() const { return static_cast<std::int32_t>(names.size()) - 1; }
};

// Reads a pedigree file. An unknown parent is 0, NA or "."; a name is any
// text without blanks of at most kMaxNameBytes bytes; lines may end in CRLF
// and the last needs no end. A stop with status 2 names the file and the
// line(s) of: a row with too few columns, text that is not a name (a NUL
// or other control byte, a name too long), an animal listed twice, an
// animal among its own ancestors (the cycle), an animal that is both a
// sire and a dam, or a sire recorded female (or a dam male).
// `format` null: by the file's name.
SuppliedPedigree read_pedigree(const std::string& path, const PedigreeFormat* format);

// The same from the file's text; `path` names it in stops.
SuppliedPedigree parse_pedigree(std::string_view text, std::string_view path,
                                const PedigreeFormat* format);

// What reading the file left aside or added, so that a misspelt parent or
// a column read by mistake is seen: "pedsim: pedigree file PATH: ..." lines
// naming a header's ignored columns and the parents added as founders; ""
// when there is nothing to tell.
std::string reading_notes(const SuppliedPedigree& pedigree, std::string_view path);

// Reads the animals that have records, one name per line (blank lines
// skipped), into `pedigree.genotyped`; a name not in the pedigree stops
// with status 2 naming the file and line.
void read_genotyped(const std::string& path, SuppliedPedigree& pedigree);
// The same from the file's text; `path` names it in stops.
void parse_genotyped(std::string_view text, std::string_view path, SuppliedPedigree& pedigree);

}  // namespace pedsim
