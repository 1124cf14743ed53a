// The formats a run is asked to write, as the user names them.

#include <algorithm>
#include <array>
#include <utility>

#include "files/diagnostic.hpp"
#include "models/model_lists.hpp"
#include "pedsim/pedsim.hpp"

namespace pedsim {

namespace {

constexpr std::array<std::pair<std::string_view, Format>, 4> kFormatNames{{
    {"pre", Format::kPre},
    {"plink", Format::kPlink},
    {"plink-text", Format::kPlinkText},
    {"vcf", Format::kVcf},
}};

}  // namespace

Formats Formats::parse(std::string_view list) {
  Formats formats;
  formats.set_ = 0;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const std::string_view name = list.substr(start, comma - start);
    const auto* found = std::find_if(kFormatNames.begin(), kFormatNames.end(),
                                     [name](const auto& entry) { return entry.first == name; });
    if (found == kFormatNames.end()) {
      stop_usage(std::string("--format takes a comma-separated list of pre, plink, plink-text "
                             "and vcf, got '")
                     .append(list)
                     .append("'"));
    }
    formats.add(found->second);
    start = comma + 1;
  }
  return formats;
}

std::string Formats::text() const {
  std::string text;
  for (const auto& [name, format] : kFormatNames) {
    if (!has(format)) continue;
    if (!text.empty()) text += ',';
    text.append(name);
  }
  return text;
}

void Formats::check(const MarkerOptions& markers, const RecordOptions& records) const {
  if (!has(Format::kPlink)) return;
  const std::string other = "; write --format vcf or pre, which hold any number";
  if (markers.is_design() || markers.alleles != 2) {
    stop_usage(std::string("--format plink holds two alleles per marker, and these markers have ")
                   .append(std::to_string(markers.is_design() ? 3 : markers.alleles))
                   .append(" (--alleles)")
                   .append(other));
  }
  if (records.error_model_row().adds_allele) {
    stop_usage(
        std::string("--format plink holds two alleles per marker, and --error-model ")
            .append(records.error_model_row().name)
            .append(" records a third (allele 3) on a two-allele marker; choose --error-model ")
            .append(listed_names(
                error_models(), [](const ErrorModel& m) { return m.usage_name(); },
                [](const ErrorModel& m) { return !m.adds_allele; }))
            .append(other));
  }
}

}  // namespace pedsim
