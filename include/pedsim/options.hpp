#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "pedsim/formats.hpp"
#include "pedsim/markers.hpp"
#include "pedsim/model.hpp"
#include "pedsim/records.hpp"
#include "pedsim/relatedness.hpp"
#include "pedsim/supplied_pedigree.hpp"

namespace pedsim {

// What a run is asked for beyond its three numbers: where each option goes.
struct Settings {
  std::optional<std::int32_t> seed;
  std::int32_t replicate = 0;
  std::optional<std::string> outdir;
  std::optional<std::int32_t> replicates;
  std::optional<std::int32_t> jobs;
  std::optional<std::string> truth;
  std::optional<std::string> summary;
  bool quiet = false;
  // A pedigree file to drop the markers onto, in place of NGEN N MALE.
  std::optional<std::string> pedigree;
  // null: by the file's name.
  const PedigreeFormat* pedigree_format = nullptr;
  // The animals of the pedigree that have records, one per line.
  std::optional<std::string> genotyped;
  // The models were named (--error-model, --missing-model): a rate given
  // alone then picks none.
  bool error_model_named = false;
  bool missing_model_named = false;
  // The files of the recorded genotypes and pedigree (ped.pre by default).
  Formats formats;
  // The true genotypes of every marker, in the same formats (true.pre, ...).
  bool true_genotypes = false;
  // segments.tsv, kinship.tsv, pairs.tsv.
  RelatednessOptions relatedness;
  Model model;
  MarkerOptions markers;
  RecordOptions records;
};

// What an option's value is.
enum class ValueKind {
  kFlag,     // no value
  kInteger,  // a decimal 32-bit integer within the limits
  kNumber,   // a decimal number within the limits
  kText,     // any text but an empty one
};

// Whether an option is also a keyword argument of the Python `simulate`
// (named as the option, "_" for "-": --error-rate is error_rate=).
enum class Reach { kCommandLine, kSimulate };

// One option: its name, value, limits, help, and where its value goes.
struct Option {
  std::string_view name;        // "--seed"
  std::string_view value_name;  // "T" in the usage; "" for a flag
  ValueKind kind;
  double low;
  double high;
  std::string_view help;  // the usage's lines, "\n" between them
  Reach reach;
  // Puts a value that was checked against its kind and limits in place.
  void (*store)(Settings& settings, std::string_view value);
  // The usage's lines of the values a table gives it (models, formats), or
  // null.
  std::string (*choices)() = nullptr;
};

// Every option, in the order of the usage text.
std::span<const Option> options();
// The option of this name ("--seed"), or null.
const Option* find_option(std::string_view name);
// The option whose Python keyword is `keyword` ("error_rate"), or null.
const Option* find_keyword(std::string_view keyword);
// A message in the words of the Python and R bindings: each option that
// is a keyword there ("--error-rate", "--format") named as the keyword
// ("error_rate", "formats").
std::string in_keywords(std::string_view text);
// The option ("--error-rate", or with `keyword` its Python keyword,
// "error_rate") nearest a misspelt name, within a few characters; "" for
// none.
std::string nearest_name(std::string_view name, bool keyword);
// Checks `value` against the option's kind and limits and stores it; a value
// that does not fit throws Stop (status 2) naming the option and the value.
void apply_option(const Option& option, std::string_view value, Settings& settings);
// Once every option is applied: a run with a marker panel or on a supplied
// pedigree has complete records without errors unless its options name the
// models or their rates; the design's own run keeps the design's records.
void settle_record_defaults(Settings& settings, bool supplied_pedigree);
// The usage's lines of every option.
std::string options_usage();

// A strict decimal 32-bit signed integer (optional sign, digits, nothing else).
std::optional<std::int32_t> parse_int32(std::string_view text);
// A finite decimal number and nothing else (no blanks, no sign "+").
std::optional<double> parse_finite(std::string_view text);

}  // namespace pedsim
