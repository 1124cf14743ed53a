// The genotype formats: a row each, its files and writers in the file of
// the format.

#include <algorithm>

#include "formats/format_files.hpp"
#include "io/diagnostic.hpp"
#include "pedsim/models.hpp"
#include "text/lists.hpp"

namespace pedsim {

extern const FormatFiles kPreFiles;
extern const FormatFiles kPlinkFiles;
extern const FormatFiles kPlinkTextFiles;
extern const FormatFiles kVcfFiles;
extern const FormatFiles kBcfFiles;

namespace {

constexpr GenotypeFormat kGenotypeFormats[] = {
    {.name = "pre",
     .help = "ped.pre (the default; true.pre)",
     .max_alleles = 0,
     .files = &kPreFiles},
    {.name = "plink",
     .help = "ped.bed, .bim, .fam: PLINK 1 binary",
     .max_alleles = 2,
     .files = &kPlinkFiles},
    {.name = "plink-text",
     .help = "ped.ped, .map: PLINK text",
     .max_alleles = 0,
     .files = &kPlinkTextFiles},
    {.name = "vcf",
     .help = "ped.vcf.gz and its index .csi: VCF 4.2, BGZF",
     .max_alleles = 0,
     .files = &kVcfFiles},
    {.name = "bcf",
     .help = "ped.bcf and its index .csi: BCF2, the VCF's binary form",
     .max_alleles = 0,
     .files = &kBcfFiles},
};

static_assert(std::size(kGenotypeFormats) <= 64, "a format set holds 64 formats");

std::string name_of(const GenotypeFormat& format) { return std::string(format.name); }

}  // namespace

std::span<const GenotypeFormat> genotype_formats() { return kGenotypeFormats; }

const GenotypeFormat* find_genotype_format(std::string_view name) {
  const auto* row = std::find_if(std::begin(kGenotypeFormats), std::end(kGenotypeFormats),
                                 [&](const GenotypeFormat& f) { return f.name == name; });
  return row == std::end(kGenotypeFormats) ? nullptr : row;
}

std::string genotype_formats_usage() { return usage_lines(genotype_formats(), name_of); }

std::uint64_t Formats::bit(const GenotypeFormat& format) {
  return std::uint64_t{1} << (&format - kGenotypeFormats);
}

bool Formats::has(std::string_view name) const {
  const GenotypeFormat* format = find_genotype_format(name);
  return format != nullptr && has(*format);
}

Formats Formats::parse(std::string_view list) {
  Formats formats;
  formats.set_ = 0;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const GenotypeFormat* format = find_genotype_format(list.substr(start, comma - start));
    if (format == nullptr) {
      stop_usage("--format takes a comma-separated list of " +
                 listed_names(genotype_formats(), name_of) + ", got '" + std::string(list) + "'");
    }
    formats.add(*format);
    start = comma + 1;
  }
  return formats;
}

std::string Formats::text() const {
  std::string text;
  for (const GenotypeFormat& format : kGenotypeFormats) {
    if (!has(format)) continue;
    if (!text.empty()) text += ',';
    text.append(format.name);
  }
  return text;
}

namespace {

// The formats that hold `alleles` alleles per marker.
std::string formats_holding(std::int32_t alleles) {
  return listed_names(genotype_formats(), name_of, [alleles](const GenotypeFormat& f) {
    return f.max_alleles == 0 || f.max_alleles >= alleles;
  });
}

}  // namespace

void Formats::check(const MarkerOptions& markers, const RecordOptions& records) const {
  const std::int32_t alleles = markers.is_design() ? 3 : markers.alleles;
  const ErrorModel& errors = records.error_model_row();
  for (const GenotypeFormat& format : kGenotypeFormats) {
    if (!has(format) || format.max_alleles == 0) continue;
    const std::string holds = "--format " + std::string(format.name) + " holds " +
                              std::to_string(format.max_alleles) + " alleles per marker, and ";
    if (alleles > format.max_alleles) {
      stop_usage(holds + "these markers have " + std::to_string(alleles) +
                 " (--alleles); write --format " + formats_holding(alleles) + ", which hold them");
    }
    if (errors.adds_allele && alleles + 1 > format.max_alleles) {
      stop_usage(holds + "--error-model " + std::string(errors.name) + " records allele " +
                 std::to_string(alleles + 1) + " on a " + std::to_string(alleles) +
                 "-allele marker; add --error-rate E, or --error-model " +
                 listed_names(
                     error_models(), [](const ErrorModel& m) { return m.usage_name(); },
                     [](const ErrorModel& m) { return !m.adds_allele; }) +
                 ", or write --format " + formats_holding(alleles + 1));
    }
  }
}

}  // namespace pedsim
