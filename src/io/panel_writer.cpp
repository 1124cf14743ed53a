#include "io/panel_writer.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <vector>

#include "analysis/error_truth.hpp"
#include "io/buffered_writer.hpp"
#include "io/genotype_view.hpp"
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
    char* const start =
        writer.reserve(kHeadFields * kMaxFieldWidth + 2 * markers * kAlleleField + 1);
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

// The "ped.errors" row of an altered genotype: the design's two fields, then
// the marker's name.
void write_error_row(BufferedWriter& rows, const Panel& panel, std::int32_t animal,
                     std::int32_t marker) {
  const std::string& name = panel.map().names[static_cast<std::size_t>(marker)];
  char* const start = rows.reserve(kMaxErrorRecord + name.size() + 1);
  char* at =
      start +
      format_error_record(start, animal, panel.true_allele(panel.sample(animal), marker, 0)) - 1;
  *at++ = ' ';
  at = std::copy(name.begin(), name.end(), at);
  *at++ = '\n';
  rows.commit(static_cast<std::size_t>(at - start));
}

// The design's error rule on a panel: the candidates' replacement codes.
void write_candidate_alterations(const Panel& panel, BufferedWriter* error_rows,
                                 BufferedWriter& console_lines) {
  for (const std::int32_t animal : panel.candidates()) {
    bool altered = false;
    for (std::int32_t m = 0; m < panel.markers(); ++m) {
      const std::int32_t code = panel.replacement(animal, m);
      if (code == 0 || code == panel.true_allele(panel.sample(animal), m, 0)) continue;
      altered = true;
      if (error_rows == nullptr) break;
      write_error_row(*error_rows, panel, animal, m);
    }
    if (altered) console_lines.write(console_line_int(animal));
  }
}

// Another model's list of altered genotypes; "ped.errors" rows only under
// the design's rule, which changes first alleles alone.
void write_listed_alterations(const Panel& panel, BufferedWriter* error_rows,
                              BufferedWriter& console_lines) {
  for (std::int32_t i = 1; i <= panel.animals(); ++i) {
    const std::span<const AlteredCell> cells = panel.altered_of(i);
    if (cells.empty()) continue;
    console_lines.write(console_line_int(i));
    if (error_rows == nullptr) continue;
    for (const AlteredCell& cell : cells) write_error_row(*error_rows, panel, i, cell.marker);
  }
}

void write_alterations(const Panel& panel, ByteSink* errors, ByteSink* console) {
  StringSink unused;
  BufferedWriter error_rows(errors != nullptr ? *errors : unused);
  BufferedWriter console_lines(console != nullptr ? *console : unused);
  BufferedWriter* rows = errors != nullptr ? &error_rows : nullptr;
  if (panel.candidates().empty()) {
    write_listed_alterations(panel, rows, console_lines);
  } else {
    write_candidate_alterations(panel, rows, console_lines);
  }
}

}  // namespace

void write_panel_outputs(const Pedigree& pedigree, const Panel& panel, const OutputSinks& outputs,
                         bool error_rows) {
  write_alterations(panel, error_rows ? outputs.errors : nullptr,
                    outputs.quiet_console ? nullptr : outputs.console);
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
    writer.commit(format_ped_record(writer.reserve(kMaxPedRecord), p.animal(i), p.sire[i], p.dam[i],
                                    p.sex[i], marker.true_first[i], marker.true_second[i]));
  }
}

void write_error_table(const Simulation& run, ByteSink& out) {
  BufferedWriter file(out);
  file.write(
      "animal\tmarker\ttrue_allele1\ttrue_allele2\trecorded_allele1\trecorded_allele2\tmodel\t"
      "detectable\n");
  const Panel& panel = run.panel;
  const std::string model = run.records.error_model_name();
  const std::vector<std::uint8_t> detectable = detectable_flags(run.pedigree, panel);
  const GenotypeView view(run, Genotypes::kRecorded);
  std::size_t k = 0;
  std::int32_t named = 0;
  std::string animal;
  panel.for_each_altered([&](std::int32_t i, const AlteredCell& cell) {
    const std::int32_t m = cell.marker;
    if (i != named) animal = view.animal_name(named = i);
    const std::string& marker = panel.map().names[static_cast<std::size_t>(m)];
    char* const start = file.reserve(animal.size() + marker.size() + model.size() + 64);
    char* at = std::copy(animal.begin(), animal.end(), start);
    *at++ = '\t';
    at = std::copy(marker.begin(), marker.end(), at);
    for (const std::int32_t allele :
         {panel.true_allele(panel.sample(i), m, 0), panel.true_allele(panel.sample(i), m, 1),
          std::int32_t{cell.first}, std::int32_t{cell.second}}) {
      *at++ = '\t';
      at = std::to_chars(at, at + 11, allele).ptr;
    }
    *at++ = '\t';
    at = std::copy(model.begin(), model.end(), at);
    at = std::copy_n(detectable[k++] != 0 ? "\t1\n" : "\t0\n", 3, at);
    file.commit(static_cast<std::size_t>(at - start));
  });
  file.flush();
}

}  // namespace pedsim
