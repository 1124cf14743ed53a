#include "io/panel_writer.hpp"

#include <array>
#include <cstring>
#include <vector>

#include "io/buffered_writer.hpp"
#include "io/records.hpp"

namespace pedsim {

namespace {

// Alleles run from 0 (none) to 256 (an error's allele past 255): each is a
// field of eight columns.
constexpr std::size_t kAlleleField = 8;
constexpr std::size_t kAlleleValues = 257;
constexpr std::size_t kHeadFields = 4;

using AlleleFields = std::array<std::array<char, kAlleleField>, kAlleleValues>;

const AlleleFields& allele_fields() {
  static const AlleleFields fields = [] {
    AlleleFields f{};
    char text[kMaxFieldWidth];
    for (std::size_t a = 0; a < kAlleleValues; ++a) {
      format_file_field(text, static_cast<std::int32_t>(a));
      std::memcpy(f[a].data(), text, kAlleleField);
    }
    return f;
  }();
  return fields;
}

// One row's alleles, marker by marker, true or as recorded.
void row_alleles(const Panel& panel, std::int32_t animal, bool recorded,
                 std::vector<std::uint16_t>& first, std::vector<std::uint16_t>& second) {
  for (std::int32_t m = 0; m < panel.markers(); ++m) {
    first[m] = static_cast<std::uint16_t>(recorded ? panel.recorded_allele(animal, m, 0)
                                                   : panel.true_allele(animal, m, 0));
    second[m] = static_cast<std::uint16_t>(recorded ? panel.recorded_allele(animal, m, 1)
                                                    : panel.true_allele(animal, m, 1));
  }
}

void write_rows(const Pedigree& pedigree, const Panel& panel, bool recorded, ByteSink& out) {
  BufferedWriter writer(out);
  const AlleleFields& fields = allele_fields();
  const auto markers = static_cast<std::size_t>(panel.markers());
  std::vector<std::uint16_t> first(markers);
  std::vector<std::uint16_t> second(markers);
  for (std::int32_t i = 1; i <= pedigree.rows(); ++i) {
    row_alleles(panel, i, recorded, first, second);
    char* const start = writer.reserve(kHeadFields * kMaxFieldWidth + 2 * markers * kAlleleField + 1);
    char* at = start;
    for (const std::int32_t value : {pedigree.animal(i), pedigree.sire[i], pedigree.dam[i],
                                     static_cast<std::int32_t>(pedigree.sex[i])}) {
      at += format_file_field(at, value);
    }
    for (std::size_t m = 0; m < markers; ++m) {
      std::memcpy(at, fields[first[m]].data(), kAlleleField);
      std::memcpy(at + kAlleleField, fields[second[m]].data(), kAlleleField);
      at += 2 * kAlleleField;
    }
    *at++ = '\n';
    writer.commit(static_cast<std::size_t>(at - start));
  }
}

void write_alterations(const Panel& panel, ByteSink* errors, ByteSink* console) {
  StringSink unused;
  BufferedWriter error_rows(errors != nullptr ? *errors : unused);
  BufferedWriter console_lines(console != nullptr ? *console : unused);
  for (const std::int32_t animal : panel.candidates()) {
    bool altered = false;
    for (std::int32_t m = 0; m < panel.markers(); ++m) {
      const std::int32_t code = panel.replacement(animal, m);
      const std::int32_t old = panel.true_allele(animal, m, 0);
      if (code == 0 || code == old) continue;
      altered = true;
      if (errors == nullptr) break;
      const std::string& name = panel.map().names[static_cast<std::size_t>(m)];
      char* const start = error_rows.reserve(kMaxErrorRecord + name.size() + 1);
      // The design's two fields, then the marker's name before the line feed.
      char* at = start + format_error_record(start, animal, old) - 1;
      *at++ = ' ';
      at = std::copy(name.begin(), name.end(), at);
      *at++ = '\n';
      error_rows.commit(static_cast<std::size_t>(at - start));
    }
    if (altered) console_lines.write(console_line_int(animal));
  }
}

}  // namespace

void write_panel_outputs(const Pedigree& pedigree, const Panel& panel, const OutputSinks& outputs) {
  write_alterations(panel, outputs.errors, outputs.quiet_console ? nullptr : outputs.console);
  if (outputs.pedigree != nullptr) write_rows(pedigree, panel, true, *outputs.pedigree);
}

void write_true_genotypes(const Simulation& run, ByteSink& out) {
  if (run.has_panel()) {
    write_rows(run.pedigree, run.panel, false, out);
    return;
  }
  BufferedWriter writer(out);
  const Pedigree& p = run.pedigree;
  const MarkerColumns& marker = run.genotypes.marker(0);
  for (std::int32_t i = 1; i <= p.rows(); ++i) {
    writer.commit(format_ped_record(writer.reserve(kMaxPedRecord), p.animal(i), p.sire[i],
                                    p.dam[i], p.sex[i], marker.true_first[i],
                                    marker.true_second[i]));
  }
}

}  // namespace pedsim
