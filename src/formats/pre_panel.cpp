#include "formats/pre_panel.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "analysis/error_truth.hpp"
#include "formats/design_records.hpp"
#include "formats/format_files.hpp"
#include "formats/genotype_view.hpp"
#include "io/buffered_writer.hpp"
#include "io/diagnostic.hpp"
#include "io/progress_sink.hpp"
#include "platform/helper_thread.hpp"
#include "platform/large_memory.hpp"

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

// One row's alleles, true or as recorded: marker m's two at 2m and 2m + 1.
void row_alleles(const Panel& panel, std::int32_t animal, bool recorded,
                 std::vector<std::uint16_t>& cells) {
  if (recorded) {
    panel.recorded_alleles(animal, 0, panel.markers(), cells.data(), 2);
    return;
  }
  for (std::int32_t m = 0; m < panel.markers(); ++m) {
    for (int side = 0; side < 2; ++side) {
      cells[2 * static_cast<std::size_t>(m) + static_cast<std::size_t>(side)] =
          static_cast<std::uint16_t>(panel.true_allele(animal, m, side));
    }
  }
}

void write_rows(const Pedigree& pedigree, const Panel& panel, bool recorded, ByteSink& out) {
  BufferedWriter writer(out);
  const AlleleFields& fields = allele_fields();
  const auto markers = static_cast<std::size_t>(panel.markers());
  std::vector<std::uint16_t> cells(2 * markers);
  for (std::int32_t i = 1; i <= pedigree.rows(); ++i) {
    row_alleles(panel, i, recorded, cells);
    char* const start =
        writer.reserve(kHeadFields * kMaxFieldWidth + 2 * markers * kAlleleField + 1);
    char* at = start;
    for (const std::int32_t value : {pedigree.animal(i), pedigree.sire[i], pedigree.dam[i],
                                     static_cast<std::int32_t>(pedigree.sex[i])}) {
      at += format_file_field(at, value);
    }
    for (const std::uint16_t allele : cells) {
      std::memcpy(at, fields[allele].data(), kAlleleField);
      at += kAlleleField;
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

// What the console says of a panel's errors.
struct AlteredCounts {
  std::int64_t genotypes = 0;
  std::int32_t animals = 0;
};

// The design's error rule on a panel: the candidates' replacement codes.
AlteredCounts write_candidate_alterations(const Panel& panel, BufferedWriter* error_rows) {
  AlteredCounts counts;
  for (const std::int32_t animal : panel.candidates()) {
    bool altered = false;
    for (std::int32_t m = 0; m < panel.markers(); ++m) {
      const std::int32_t code = panel.replacement(animal, m);
      if (code == 0 || code == panel.true_allele(panel.sample(animal), m, 0)) continue;
      altered = true;
      ++counts.genotypes;
      if (error_rows != nullptr) write_error_row(*error_rows, panel, animal, m);
    }
    counts.animals += altered ? 1 : 0;
  }
  return counts;
}

// Another model's list of altered genotypes; "ped.errors" rows only under
// the design's rule, which changes first alleles alone.
AlteredCounts write_listed_alterations(const Panel& panel, BufferedWriter* error_rows) {
  AlteredCounts counts;
  for (std::int32_t i = 1; i <= panel.animals(); ++i) {
    const std::span<const AlteredCell> cells = panel.altered_of(i);
    if (cells.empty()) continue;
    ++counts.animals;
    counts.genotypes += static_cast<std::int64_t>(cells.size());
    if (error_rows == nullptr) continue;
    for (const AlteredCell& cell : cells) write_error_row(*error_rows, panel, i, cell.marker);
  }
  return counts;
}

// "ped.errors" rows, and the console's two lines of counts (a panel's
// errors are too many to list there animal by animal).
void write_alterations(const Panel& panel, ByteSink* errors, ByteSink* console) {
  StringSink unused;
  BufferedWriter error_rows(errors != nullptr ? *errors : unused);
  BufferedWriter* rows = errors != nullptr ? &error_rows : nullptr;
  const AlteredCounts counts = panel.candidates().empty()
                                   ? write_listed_alterations(panel, rows)
                                   : write_candidate_alterations(panel, rows);
  error_rows.flush();
  if (console == nullptr) return;
  BufferedWriter lines(*console);
  lines.write(console_line_label_int("altered genotypes=", counts.genotypes));
  lines.write(console_line_label_int("altered animals=", counts.animals));
  lines.flush();
}

}  // namespace

void write_panel_outputs(const Pedigree& pedigree, const Panel& panel, const OutputSinks& outputs,
                         bool error_rows) {
  write_alterations(panel, error_rows ? outputs.errors : nullptr,
                    outputs.quiet_console ? nullptr : outputs.console);
  if (outputs.pedigree == nullptr) return;
  // Eight columns a field, most of them.
  const double bytes = static_cast<double>(pedigree.rows()) * (8.0 * (4 + 2 * panel.markers()) + 1);
  ProgressSink out(*outputs.pedigree, outputs.progress, "writing ped.pre", bytes);
  write_rows(pedigree, panel, true, out);
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

namespace {

// Text whose growth leaves the new bytes unwritten: each row is formatted
// in place and the unused room given back.
using Text = std::vector<char, ScratchAllocator<char>>;

// errors.tsv rows, formatted a stretch of animals at a time.
class ErrorRows {
 public:
  ErrorRows(const Simulation& run, const std::vector<std::uint8_t>& detectable)
      : run_(run),
        model_(run.records.error_model_name()),
        detectable_(detectable),
        view_(run, Genotypes::kRecorded) {}

  // The rows of animals [from, to), in place of `text`'s contents.
  void format(std::int32_t from, std::int32_t to, Text& text) const {
    const Panel& panel = run_.panel;
    text.clear();
    std::size_t k = first_cell(from);
    for (std::int32_t i = from; i < to; ++i) {
      const std::span<const AlteredCell> cells = panel.altered_of(i);
      if (cells.empty()) continue;
      const std::string animal = view_.animal_name(i);
      const std::int32_t source = panel.sample(i);
      for (const AlteredCell& cell : cells) {
        const std::int32_t m = cell.marker;
        const std::string& marker = panel.map().names[static_cast<std::size_t>(m)];
        const std::size_t used = text.size();
        text.resize(used + animal.size() + marker.size() + model_.size() + 64);
        char* at = std::copy(animal.begin(), animal.end(), text.data() + used);
        *at++ = '\t';
        at = std::copy(marker.begin(), marker.end(), at);
        for (const std::int32_t allele :
             {panel.true_allele(source, m, 0), panel.true_allele(source, m, 1),
              std::int32_t{cell.first}, std::int32_t{cell.second}}) {
          *at++ = '\t';
          at = std::to_chars(at, at + 11, allele).ptr;
        }
        *at++ = '\t';
        at = std::copy(model_.begin(), model_.end(), at);
        at = std::copy_n(detectable_[k++] != 0 ? "\t1\n" : "\t0\n", 3, at);
        text.resize(static_cast<std::size_t>(at - text.data()));
      }
    }
  }

  // Where animal i's altered genotypes start in the panel's list.
  std::size_t first_cell(std::int32_t i) const {
    const Panel& panel = run_.panel;
    if (i > panel.animals()) return panel.altered().size();
    return static_cast<std::size_t>(panel.altered_of(i).data() - panel.altered().data());
  }

 private:
  const Simulation& run_;
  std::string model_;
  const std::vector<std::uint8_t>& detectable_;
  GenotypeView view_;
};

// Stretches of animals with about this many altered genotypes each.
constexpr std::size_t kStretchCells = std::size_t{1} << 19;

}  // namespace

void write_error_table(const Simulation& run, const std::vector<std::uint8_t>& detectable,
                       ByteSink& out) {
  out.write(
      "animal\tmarker\ttrue_allele1\ttrue_allele2\trecorded_allele1\trecorded_allele2\tmodel\t"
      "detectable\n");
  if (run.panel.altered().empty()) return;
  const ErrorRows rows(run, detectable);
  // Stretches formatted two at a time, one on each core, while this
  // thread first writes the two before.
  std::vector<std::int32_t> starts{1};
  const std::int32_t animals = run.panel.animals();
  for (std::int32_t i = 1; i <= animals; ++i) {
    if (rows.first_cell(i + 1) - rows.first_cell(starts.back()) >= kStretchCells)
      starts.push_back(i + 1);
  }
  if (starts.back() != animals + 1) starts.push_back(animals + 1);
  Text text[2][2];
  HelperThread helper;
  const std::size_t stretches = starts.size() - 1;
  const auto format = [&](std::size_t s, Text& into) {
    if (s < stretches)
      rows.format(starts[s], starts[s + 1], into);
    else
      into.clear();
  };
  for (std::size_t pair = 0; 2 * pair < stretches; ++pair) {
    Text(&now)[2] = text[pair % 2];
    Text(&before)[2] = text[(pair + 1) % 2];
    helper.side_by_side(
        [&] {
          for (const Text& t : before) out.write({t.data(), t.size()});
          format(2 * pair, now[0]);
        },
        [&] { format(2 * pair + 1, now[1]); });
    for (Text& t : before) t.clear();
  }
  const std::size_t pairs = (stretches + 1) / 2;
  for (const Text& t : text[(pairs - 1) % 2]) out.write({t.data(), t.size()});
}

namespace {

void write_true_pre(const Simulation& run, Genotypes, ByteSink& out) {
  write_true_genotypes(run, out);
}

// ped.pre is written as the run forms (unit 1); true.pre once it is done.
constexpr FormatFile kPreFileList[] = {
    {.recorded_name = "",
     .true_name = "true.pre",
     .write = write_true_pre,
     .bytes_per_genotype = 16,
     .nanoseconds_per_genotype = 38},
};

}  // namespace

extern const FormatFiles kPreFiles{.unit = unit::kTrueGenotypes, .files = kPreFileList};

}  // namespace pedsim
