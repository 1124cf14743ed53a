#include "reports/reports.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "io/buffered_writer.hpp"
#include "io/diagnostic.hpp"
#include "pedsim/models.hpp"
#include "sim/genotype_loss.hpp"
#include "text/text.hpp"

namespace pedsim {

namespace {

// One row of tab-separated integers.
void write_row(BufferedWriter& file, std::initializer_list<std::int32_t> values) {
  constexpr std::size_t kMaxDigits = 11;
  char* out = file.reserve(values.size() * (kMaxDigits + 1));
  char* p = out;
  for (const std::int32_t v : values) {
    p = std::to_chars(p, p + kMaxDigits, v).ptr;
    *p++ = '\t';
  }
  p[-1] = '\n';
  file.commit(static_cast<std::size_t>(p - out));
}

template <class... Args>
std::string format(const char* layout, Args... args) {
  std::array<char, 256> line;
  const int length = std::snprintf(line.data(), line.size(), layout, args...);
  return std::string(line.data(), static_cast<std::size_t>(std::clamp(length, 0, 255)));
}

struct GenerationCounts {
  std::int64_t animals = 0, males = 0, females = 0, kept = 0, lost = 0;
};

}  // namespace

TableColumns table_columns(const RecordOptions& records) {
  if (records.has_pedigree_errors()) return TableColumns::kPedigree;
  return records.is_design() ? TableColumns::kDesign : TableColumns::kRecords;
}

TableColumns table_columns(const std::string& model) {
  for (const char* key :
       {" wrong_sire=", " wrong_dam=", " missing_sire=", " missing_dam=", " swap="}) {
    if (model.find(key) != std::string::npos) return TableColumns::kPedigree;
  }
  return model.find("error_model=") != std::string::npos ? TableColumns::kRecords
                                                         : TableColumns::kDesign;
}

std::vector<TableColumns> every_table_columns() {
  std::vector<TableColumns> all;
  for (const bool relatedness : {false, true}) {
    for (const auto layout :
         {TableColumns::kDesign, TableColumns::kRecords, TableColumns::kPedigree}) {
      all.emplace_back(layout, relatedness);
    }
  }
  return all;
}

std::string replicate_table_header(TableColumns columns) {
  std::string header =
      "replicate\tseed\tanimals\trecords_lost\terror_candidates\taltered_animals\t"
      "inconsistent_animals\tstatus\tmodel";
  if (columns.layout != TableColumns::kDesign) {
    header +=
        "\terror_rate\tcall_rate\taltered_genotypes\tdetectable_errors\tinconsistent_genotypes";
  }
  if (columns.layout == TableColumns::kPedigree) {
    header += "\twrong_sires\tmissing_sires\twrong_dams\tmissing_dams\tswapped_samples";
  }
  if (columns.relatedness) {
    header += "\tmean_inbreeding_recorded\tmean_inbreeding_true\tmean_inbreeding_realised";
  }
  return header + "\n";
}

namespace {

std::string record_fields(const std::optional<RunCounts>& counts) {
  if (!counts || !counts->records) return "\tNA\tNA\tNA\tNA\tNA";
  const RecordFigures& f = *counts->records;
  return format("\t%.6g\t%.6g\t%lld\t%lld\t%lld", f.error_rate(), f.call_rate(),
                static_cast<long long>(f.altered), static_cast<long long>(f.detectable),
                static_cast<long long>(f.inconsistent));
}

std::string pedigree_fields(const std::optional<RunCounts>& counts) {
  if (!counts || !counts->pedigree) return "\tNA\tNA\tNA\tNA\tNA";
  const PedigreeErrorCounts& c = *counts->pedigree;
  return format("\t%lld\t%lld\t%lld\t%lld\t%lld", static_cast<long long>(c.wrong_sires),
                static_cast<long long>(c.missing_sires), static_cast<long long>(c.wrong_dams),
                static_cast<long long>(c.missing_dams), static_cast<long long>(c.swapped_samples));
}

std::string relatedness_fields(const std::optional<RunCounts>& counts) {
  if (!counts || !counts->mean_inbreeding) return "\tNA\tNA\tNA";
  const auto& [recorded, truth, realised] = *counts->mean_inbreeding;
  return format("\t%.6g\t%.6g\t%.6g", recorded, truth, realised);
}

std::string extra_fields(const std::optional<RunCounts>& counts, TableColumns columns) {
  std::string fields;
  if (columns.layout != TableColumns::kDesign) fields += record_fields(counts);
  if (columns.layout == TableColumns::kPedigree) fields += pedigree_fields(counts);
  if (columns.relatedness) fields += relatedness_fields(counts);
  return fields;
}

}  // namespace

std::string na_table_row(std::int32_t replicate, const std::string& seed, const std::string& model,
                         TableColumns columns) {
  return std::to_string(replicate) + "\t" + seed + "\tNA\tNA\tNA\tNA\tNA\tNA\t" + model +
         extra_fields(std::nullopt, columns) + "\n";
}

std::string replicate_table_row(std::int32_t replicate, std::int32_t seed,
                                const std::optional<RunCounts>& counts, int status,
                                const std::string& model, TableColumns columns) {
  const auto count = [&counts](std::int64_t RunCounts::*field) {
    return counts ? std::to_string((*counts).*field) : std::string("NA");
  };
  return std::to_string(replicate) + "\t" + std::to_string(seed) + "\t" +
         count(&RunCounts::animals) + "\t" + count(&RunCounts::records_lost) + "\t" +
         count(&RunCounts::error_candidates) + "\t" + count(&RunCounts::altered) + "\t" +
         count(&RunCounts::inconsistencies) + "\t" + std::to_string(status) + "\t" + model +
         extra_fields(counts, columns) + "\n";
}

std::string run_row_text(const Seed& seed, const std::optional<RunCounts>& counts, int status,
                         const std::string& model, TableColumns columns) {
  return replicate_table_header(columns) +
         replicate_table_row(seed.replicate, seed.value, counts, status, model, columns);
}

void write_truth(const Simulation& run, ByteSink& out) {
  const Pedigree& p = run.pedigree;
  const AnimalTruth t = animal_truth(run);
  BufferedWriter file(out);
  file.write(
      "animal\tsire\tdam\tsex\tgeneration\ttrue_allele1\ttrue_allele2\tlost\t"
      "recorded_allele1\trecorded_allele2\taltered\n");
  // Rows that hold no animal (never bred) are left out.
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    write_row(file, {p.animal(i), p.sire[i], p.dam[i], p.sex[i], p.born[i], t.true_first[k],
                     t.true_second[k], t.lost[k], t.recorded_first[k], t.recorded_second[k],
                     t.altered[k]});
  }
  file.flush();
}

namespace {

// The mean, least and greatest of a column of the per-marker table.
void write_spread(BufferedWriter& file, const char* name, const std::vector<double>& column) {
  double sum = 0;
  for (const double x : column) sum += x;
  const auto [low, high] = std::ranges::minmax(column);
  file.write(format("%s_mean: %.4f\n", name, sum / static_cast<double>(column.size())));
  file.write(format("%s_min: %.4f\n", name, low));
  file.write(format("%s_max: %.4f\n", name, high));
}

// The panel's model and aggregates over its markers: founders'
// heterozygosity, and the realised frequency of each marker's rarest
// allele among the true genotypes of every animal.
void write_panel_summary(const Simulation& run, RunChecks& checks, BufferedWriter& file) {
  const Panel& panel = run.panel;
  const MarkerMap& map = panel.map();
  file.write("\n# marker panel\n");
  file.write("marker_model: " + run.markers.describe() + "\n");
  file.write(std::string("design_marker_is_marker_1: ") +
             (run.markers.is_design_marker_model() ? "yes" : "no") + "\n");
  file.write(format("markers: %d\n", panel.markers()));
  file.write(format("alleles: %d\n", map.alleles));
  file.write(format("chromosomes: %zu\n", map.chromosome_names.size()));
  const MarkerTable& table = checks.marker_table();
  for (const char* name : {"founder_heterozygosity", "minor_allele_frequency"}) {
    write_spread(file, name, table.column(name));
  }
  const PanelCounts& counts_of_panel = checks.panel_counts();
  file.write(
      format("panel_error_candidates: %lld\n", static_cast<long long>(run.error_candidates)));
  file.write(format("panel_altered_genotypes: %lld\n", counts_of_panel.altered_genotypes));
  file.write(format("panel_altered_animals: %lld\n", counts_of_panel.altered_animals));
  file.write(
      format("panel_inconsistent_genotypes: %lld\n", counts_of_panel.inconsistent_genotypes));
  file.write(format("panel_inconsistent_animals: %lld\n", counts_of_panel.inconsistent_animals));
  const double genotypes = static_cast<double>(panel.animals()) * panel.markers();
  file.write(format("panel_bits_per_genotype: %.3f\n", 8.0 * panel.bytes() / genotypes));
}

// The record models and their realised rates, overall and across markers.
void write_records_summary(const Simulation& run, RunChecks& checks, BufferedWriter& file) {
  const RecordSummary r = summarize_records(run, checks.detectable(), checks.marker_table());
  file.write("\n# records\n");
  file.write("record_model: " + run.records.describe() + "\n");
  file.write(format("call_rate: %.6f\n", r.call_rate));
  file.write(format("call_rate_marker_min: %.6f\n", r.call_rate_marker_min));
  file.write(format("call_rate_marker_max: %.6f\n", r.call_rate_marker_max));
  file.write(format("error_rate: %.6f\n", r.error_rate));
  file.write(format("error_rate_marker_min: %.6f\n", r.error_rate_marker_min));
  file.write(format("error_rate_marker_max: %.6f\n", r.error_rate_marker_max));
  file.write(format("altered_genotypes: %lld\n", static_cast<long long>(r.altered_genotypes)));
  file.write(format("detectable_errors: %lld\n", static_cast<long long>(r.detectable_errors)));
}

// The parents recorded wrongly or not at all, by kind.
void write_pedigree_error_summary(const Simulation& run, BufferedWriter& file) {
  const PedigreeErrorCounts c = count_pedigree_errors(run.pedigree_changes);
  file.write("\n# pedigree errors\n");
  file.write(format("animals_with_changed_parents: %lld\n",
                    static_cast<long long>(c.animals_with_changed_parents)));
  file.write(
      format("wrong_sires: %lld\nwrong_dams: %lld\nmissing_sires: %lld\nmissing_dams: %lld\n",
             static_cast<long long>(c.wrong_sires), static_cast<long long>(c.wrong_dams),
             static_cast<long long>(c.missing_sires), static_cast<long long>(c.missing_dams)));
  file.write(format("swapped_samples: %lld\n", static_cast<long long>(c.swapped_samples)));
}

// A supplied pedigree: its animals and the parents added as founders; its
// markers were all dropped on the panel's streams.
void write_supplied_summary(const Simulation& run, RunChecks& checks, BufferedWriter& file) {
  file.write("\n# supplied pedigree\n");
  file.write(format("animals: %d\n", run.pedigree.created()));
  file.write(format("added_founders: %d\n", run.added_founders));
  if (!run.added_founder_names.empty()) {
    file.write("added_founders_first: ");
    file.write(joined(run.added_founder_names, ","));
    file.write("\n");
  }
  write_panel_summary(run, checks, file);
  if (!run.records.has_design_records()) write_records_summary(run, checks, file);
  if (run.records.has_pedigree_errors()) write_pedigree_error_summary(run, file);
}

// The error rule's candidates, the animals it altered, their expected
// share and the animals in conflict with their genotyped parents, split by
// whether an altered genotype is in the conflict.
struct ErrorCandidateFigures {
  std::int64_t candidates = 0;
  std::int64_t altered = 0;
  std::optional<double> expected_share;
  InconsistencyCount inconsistent;
};

ErrorCandidateFigures design_candidate_figures(const Simulation& run) {
  const RunCounts counts = count_run(run.pedigree, run.genotypes);
  return {counts.error_candidates, counts.altered, run.model.expected_altered_share(),
          count_inconsistencies(run.pedigree, run.genotypes)};
}

// Of a panel, as its files hold it: a candidate is altered at a marker with
// probability q (the design's marker model: the model's share; else the
// replacement, among K+1 alleles, differs from the true one K times in
// K+1), so at one of M markers or more with 1 - (1 - q)^M. Under other
// records models no one share is expected.
ErrorCandidateFigures panel_candidate_figures(const Simulation& run, RunChecks& checks) {
  const PanelCounts& counts = checks.panel_counts();
  ErrorCandidateFigures figures{run.error_candidates, counts.altered_animals, std::nullopt, {}};
  if (run.records.has_design_records()) {
    const double alleles = run.panel.map().alleles;
    const double q = run.markers.is_design_marker_model()
                         ? run.model.expected_altered_share()
                         : run.model.error_probability * alleles / (alleles + 1);
    figures.expected_share = 1 - std::pow(1 - q, run.panel.markers());
  }
  figures.inconsistent.involving_altered = counts.inconsistent_animals_involving_altered;
  figures.inconsistent.not_involving_altered =
      counts.inconsistent_animals - counts.inconsistent_animals_involving_altered;
  return figures;
}

// The founders' genotypes at the design's marker against the
// Hardy-Weinberg expectation.
void write_founder_genotypes(const Simulation& run, BufferedWriter& file) {
  const Parameters& parameters = run.parameters;
  const std::int32_t alleles = run.model.alleles();
  std::vector<std::vector<std::int64_t>> founders(
      static_cast<std::size_t>(alleles) + 1,
      std::vector<std::int64_t>(static_cast<std::size_t>(alleles) + 1));
  for (std::int32_t i = 1; i <= parameters.founders; ++i) {
    const Genotype g = run.genotypes.true_genotype(i);
    ++founders[static_cast<std::size_t>(g.first)][static_cast<std::size_t>(g.second)];
  }
  file.write("\n# founder_genotype count expected\n");
  for (std::int32_t a = 1; a <= alleles; ++a) {
    for (std::int32_t b = a; b <= alleles; ++b) {
      const double pa = run.model.allele_frequencies[static_cast<std::size_t>(a - 1)];
      const double pb = run.model.allele_frequencies[static_cast<std::size_t>(b - 1)];
      const double expected = parameters.founders * (a == b ? pa * pa : 2 * pa * pb);
      file.write(format("founder_genotype %d/%d %lld %.2f\n", a, b,
                        founders[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)],
                        expected));
    }
  }
}

}  // namespace

void write_summary(const Simulation& run, ByteSink& out) {
  RunChecks checks(run);
  write_summary(run, checks, out);
}

void write_summary(const Simulation& run, RunChecks& checks, ByteSink& out) {
  const Parameters& parameters = run.parameters;
  const Pedigree& p = run.pedigree;
  BufferedWriter file(out);
  file.write("# pedsim run summary\n");
  file.write(format("ngen: %d\n", parameters.generations));
  file.write(format("n: %d\n", parameters.founders));
  file.write(format("male: %d\n", parameters.males));
  file.write(format("seed: %d\n", run.seed.value));
  file.write("seed_origin: " + run.seed.origin + "\n");
  file.write(format("replicate: %d\n", run.seed.replicate));
  file.write(run.model.describe());
  file.write("numbers_drawn: " + std::to_string(run.numbers_drawn) + "\n");
  // Replicates of one seed start kReplicateStride numbers apart.
  file.write(std::string("replicate_streams_overlap: ") +
             (run.numbers_drawn > kReplicateStride ? "yes" : "no") + "\n");
  file.write(format("rows: %d\n", p.rows()));
  file.write(format("unfilled_rows: %d\n", p.rows() - p.created()));

  // The records as the outputs hold them: a panel's, whose whole records
  // the age schedule removes only under the design's missing-data model.
  std::vector<GenerationCounts> generations(static_cast<std::size_t>(parameters.generations) + 1);
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    auto& g = generations[static_cast<std::size_t>(p.born[i])];
    ++g.animals;
    ++(p.sex[i] == kMale ? g.males : g.females);
    const bool lost = run.has_panel() ? run.panel.lost(i) : run.genotypes.lost[i] == 1;
    ++(lost ? g.lost : g.kept);
  }
  const bool age_schedule =
      !run.has_panel() || run.records.missing_model_row().placement == MissingPlacement::kAnimals;
  file.write("\n# generation animals males females kept lost lost_share loss_probability\n");
  for (std::size_t g = 0; g < generations.size(); ++g) {
    const auto& c = generations[g];
    const double probability = std::min(
        1.0,
        loss_threshold(parameters.generations, static_cast<std::int32_t>(g), run.model.loss_step));
    const double share = c.animals == 0 ? 0.0 : static_cast<double>(c.lost) / c.animals;
    file.write(format("generation %zu %lld %lld %lld %lld %lld %.4f ", g, c.animals, c.males,
                      c.females, c.kept, c.lost, share) +
               (age_schedule ? format("%.4f\n", probability) : std::string("NA\n")));
  }

  if (run.is_supplied()) {
    write_supplied_summary(run, checks, file);
    file.flush();
    return;
  }
  // The design's marker's founders, where the files hold that marker.
  if (!run.has_panel() || run.markers.is_design_marker_model()) write_founder_genotypes(run, file);

  const ErrorCandidateFigures figures =
      run.has_panel() ? panel_candidate_figures(run, checks) : design_candidate_figures(run);
  file.write("\n");
  file.write(format("error_candidates: %lld\n", figures.candidates));
  file.write(format("altered_animals: %lld\n", figures.altered));
  file.write(format(
      "altered_share: %.4f\n",
      figures.candidates == 0 ? 0.0 : static_cast<double>(figures.altered) / figures.candidates));
  file.write("altered_share_expected: " +
             (figures.expected_share ? format("%.4g", *figures.expected_share) : "NA") + "\n");
  file.write(format("mendelian_inconsistencies_involving_altered: %lld\n",
                    figures.inconsistent.involving_altered));
  file.write(format("mendelian_inconsistencies_not_involving_altered: %lld\n",
                    figures.inconsistent.not_involving_altered));
  if (run.has_panel()) write_panel_summary(run, checks, file);
  if (!run.records.has_design_records()) write_records_summary(run, checks, file);
  if (run.records.has_pedigree_errors()) write_pedigree_error_summary(run, file);
  file.flush();
}

}  // namespace pedsim
