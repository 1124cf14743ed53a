// The pedigree-file formats: a row each, read by the one pedigree reader.

#include <algorithm>

#include "io/diagnostic.hpp"
#include "pedsim/simulation.hpp"
#include "text/lists.hpp"

namespace pedsim {

namespace {

constexpr PedigreeFormat kPedigreeFormats[] = {
    {.name = "table",
     .suffix = "",
     .help = "animal sire dam [sex], or the columns a\n"
             "header row names, in any order",
     .animal = 0,
     .sire = 1,
     .dam = 2,
     .sex = 3,
     .columns_text = " (animal, sire, dam)",
     .sex_optional = true,
     .header = true,
     .any_code_unknown_sex = false,
     .unbred_rows = false},
    {.name = "fam",
     .suffix = ".fam",
     .help = "PLINK .fam: family, animal, sire, dam, sex,\n"
             "phenotype",
     .animal = 1,
     .sire = 2,
     .dam = 3,
     .sex = 4,
     .columns_text = " (family, animal, sire, dam, sex)",
     .sex_optional = false,
     .header = false,
     .any_code_unknown_sex = true,
     .unbred_rows = false},
    {.name = "pre",
     .suffix = ".pre",
     .help = "pedsim's ped.pre: animal, sire, dam, sex, alleles",
     .animal = 0,
     .sire = 1,
     .dam = 2,
     .sex = 3,
     .columns_text = " (animal, sire, dam, sex)",
     .sex_optional = false,
     .header = false,
     .any_code_unknown_sex = true,
     .unbred_rows = true},
};

std::string name_of(const PedigreeFormat& format) { return std::string(format.name); }

}  // namespace

std::span<const PedigreeFormat> pedigree_formats() { return kPedigreeFormats; }

const PedigreeFormat& pedigree_format(std::string_view name) {
  const auto* row = std::find_if(std::begin(kPedigreeFormats), std::end(kPedigreeFormats),
                                 [&](const PedigreeFormat& f) { return f.name == name; });
  if (row == std::end(kPedigreeFormats)) {
    stop_usage("--pedigree-format is " + listed_names(pedigree_formats(), name_of) + ", got '" +
               std::string(name) + "'");
  }
  return *row;
}

const PedigreeFormat& pedigree_format_of_path(std::string_view path) {
  for (const PedigreeFormat& format : kPedigreeFormats) {
    if (!format.suffix.empty() && path.ends_with(format.suffix)) return format;
  }
  return kPedigreeFormats[0];
}

std::string pedigree_formats_usage() { return usage_lines(pedigree_formats(), name_of); }

}  // namespace pedsim
