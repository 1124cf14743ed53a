#pragma once

#include <span>
#include <string>
#include <string_view>

namespace pedsim {

// The rule of a model, inside the library.
struct ErrorKernel;

// A model of genotyping errors: a row of error_models(). The usage, the
// option checks, the README's list (checked by a test) and the Python
// docstrings all come from these rows.
struct ErrorModel {
  // As --error-model names it: "random-allele"; with an argument, the name
  // before ':' ("matrix" of "matrix:FILE").
  std::string_view name;
  // The argument's name in the usage ("FILE"), "" for none.
  std::string_view argument;
  // What it does, one line of the usage.
  std::string_view help;
  // It takes --error-rate (and --error-spread, --error-count).
  bool takes_rate;
  // It is for two-allele markers only.
  bool two_alleles_only;
  // It can record an allele the marker does not have (a file format must
  // hold one more allele than the marker's).
  bool adds_allele;
  const ErrorKernel* kernel;

  // "matrix:FILE", or the name.
  std::string usage_name() const;
};

// Every error model, the design's rule first.
std::span<const ErrorModel> error_models();
// The row of a model as --error-model gives it ("matrix:f.tsv" is
// matrix's), or null.
const ErrorModel* find_error_model(std::string_view model);
// The argument after "NAME:", "" for none.
std::string_view error_model_argument(std::string_view model);

// How the missing genotypes of a model are placed.
enum class MissingPlacement {
  kNone,      // none: every genotype is called
  kAnimals,   // whole animals lose their records (the design's age schedule)
  kGenotypes  // each genotype, by a call rate
};

// A model of missing genotypes: a row of missing_models().
struct MissingModel {
  std::string_view name;
  std::string_view help;
  // It takes --call-rate (and its spreads).
  bool takes_call_rate;
  MissingPlacement placement;
};

// Every missing-data model, the design's age schedule first.
std::span<const MissingModel> missing_models();
// The row of a model of this name, or null.
const MissingModel* find_missing_model(std::string_view name);

// The rows' names as a list for messages: "design, random-allele or
// matrix:FILE".
std::string error_model_list();
std::string missing_model_list();
// The rows' usage lines, each "  NAME  help".
std::string error_models_usage();
std::string missing_models_usage();

}  // namespace pedsim
