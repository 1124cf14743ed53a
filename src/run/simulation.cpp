// The library's one sequence of phases: simulate a run in memory, and write
// the outputs of a finished run.

#include "pedsim/simulation.hpp"

#include <chrono>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/counts.hpp"
#include "analysis/error_truth.hpp"
#include "formats/design_outputs.hpp"
#include "formats/pre_panel.hpp"
#include "input/error_matrix.hpp"
#include "input/marker_file.hpp"
#include "io/diagnostic.hpp"
#include "io/unit_file.hpp"
#include "pedsim/models.hpp"
#include "platform/large_memory.hpp"
#include "platform/phase_timing.hpp"
#include "random/uniform_stream.hpp"
#include "run/run_files.hpp"
#include "run/run_needs.hpp"
#include "sim/column_storage.hpp"
#include "sim/error_injection.hpp"
#include "sim/founders.hpp"
#include "sim/gene_drop.hpp"
#include "sim/genotype_loss.hpp"
#include "sim/marker_map.hpp"
#include "sim/mating.hpp"
#include "sim/panel_errors.hpp"
#include "sim/panel_fill.hpp"
#include "sim/parent_lists.hpp"
#include "sim/parent_selection.hpp"
#include "sim/pedigree_errors.hpp"
#include "sim/record_rows.hpp"
#include "sim/sample_swaps.hpp"

namespace pedsim {

namespace {

// Tables from this many rows on are mapped in the background while the run
// fills them (their hundreds of page faults cost more than starting a
// thread); smaller ones are mapped as they are touched.
constexpr std::int32_t kPopulatedTableRows = 1 << 15;

template <typename T>
void add_block(std::vector<BackgroundPopulator::Block>& blocks, const Column<T>& column) {
  blocks.push_back({ColumnStorage::storage(column), ColumnStorage::bytes(column)});
}

std::vector<BackgroundPopulator::Block> table_blocks(const Pedigree& p, const GenotypeStore& g) {
  std::vector<BackgroundPopulator::Block> blocks;
  add_block(blocks, p.sire);
  add_block(blocks, p.dam);
  add_block(blocks, p.born);
  add_block(blocks, p.sex);
  add_block(blocks, g.lost);
  for (std::int32_t m = 0; m < g.markers(); ++m) {
    const MarkerColumns& marker = g.marker(m);
    for (const CodeColumn* column : {&marker.true_first, &marker.true_second,
                                     &marker.recorded_first, &marker.recorded_second}) {
      add_block(blocks, *column);
    }
  }
  return blocks;
}

// Adds the time since it was made, or since the last lap, to a phase's total.
class PhaseClock {
 public:
  void lap(double& phase_seconds) {
    const auto now = std::chrono::steady_clock::now();
    phase_seconds += std::chrono::duration<double>(now - last_).count();
    last_ = now;
  }

 private:
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// The panel's map: the marker file's, else the options' markers, with the
// frequencies neither gives drawn.
MarkerMap marker_map_of(const MarkerOptions& options, const Model& model, const Seed& seed) {
  MarkerMap map = options.marker_file ? read_marker_file(*options.marker_file, options.alleles)
                                      : spread_markers(options);
  choose_frequencies(map, options, model, seed);
  if (options.only_chromosomes.empty()) return map;
  return only_chromosomes(map, options.only_chromosomes);
}

OutputSinks console_only(const OutputSinks& outputs) {
  return {.console = outputs.console, .quiet_console = outputs.quiet_console, .stop = outputs.stop};
}

bool writes_anything(const OutputSinks& outputs) {
  return outputs.console != nullptr || outputs.pedigree != nullptr || outputs.errors != nullptr;
}

// What the stages of one run share: the run taking shape, its design stream,
// the outputs written as they form, a helper thread and the phase clock.
struct RunInProgress {
  Simulation& run;
  UniformStream& stream;
  DesignOutputs* writer;
  HelperThread& helper;
  PhaseClock& clock;
  PhaseSeconds& seconds;
  const StopRequest* stop;
  Progress* progress;

  // Stops the run when it was asked to.
  void check_stop() const {
    if (stop != nullptr) stop->check();
  }
};

// Breeds the pedigree: founders, then each generation mated (the design's
// marker passed on at each mating, in the design's order of draws) and the
// parents of the next chosen.
void breed_pedigree(RunInProgress& r) {
  const Parameters& parameters = r.run.parameters;
  Pedigree& pedigree = r.run.pedigree;
  GenotypeStore& genotypes = r.run.genotypes;
  ParentLists parents(parameters);
  create_founders(parameters, r.run.model, pedigree, genotypes, r.stream, parents);
  r.run.animals_born.push_back(parameters.founders);
  r.clock.lap(r.seconds.founders);
  Candidates candidates;
  MatingScratch mating;
  for (std::int32_t g = 1; g <= parameters.generations; ++g) {
    if (r.writer != nullptr) r.writer->generation_begins(g);
    r.run.animals_born.push_back(mate_generation(parameters, r.run.model, pedigree, genotypes,
                                                 parents, r.stream, mating, g, r.helper));
    if (r.progress != nullptr) {
      r.progress->at("breeding the pedigree", static_cast<double>(g) / parameters.generations);
    }
    r.clock.lap(r.seconds.mating);
    // The sires and dams chosen after the last generation would never be
    // used: only the numbers their choice draws are taken.
    if (g < parameters.generations) {
      select_parents(pedigree, candidates, parents, r.stream, r.helper);
    } else {
      skip_parent_selection(pedigree, r.stream);
    }
    r.clock.lap(r.seconds.selection);
    r.check_stop();
  }
}

// The animals the user says have records keep them, and no others: the
// age schedule's draws are made all the same.
void keep_records_of(const std::vector<std::uint8_t>& genotyped, GenotypeStore& genotypes) {
  if (genotyped.empty()) return;
  MarkerColumns& marker = genotypes.marker(0);
  for (std::int32_t i = 1; i < static_cast<std::int32_t>(genotyped.size()); ++i) {
    const bool kept = genotyped[static_cast<std::size_t>(i)] != 0;
    genotypes.lost[i] = kept ? 0 : 1;
    marker.recorded_first[i] = kept ? marker.true_first[i] : 0;
    marker.recorded_second[i] = kept ? marker.true_second[i] : 0;
  }
}

// The same on a panel, whatever the missing-data model: the animals the user
// did not list have no genotype there.
void keep_panel_records_of(const std::vector<std::uint8_t>& genotyped, Panel& panel) {
  for (std::int32_t i = 1; i < static_cast<std::int32_t>(genotyped.size()); ++i) {
    if (genotyped[static_cast<std::size_t>(i)] == 0) PanelFill(panel).set_lost(i);
  }
}

// Degrades the records as field data are degraded: records lost by age,
// then genotyping errors, told to the writer as they are made.
void degrade_records(RunInProgress& r) {
  const Parameters& parameters = r.run.parameters;
  lose_genotypes(parameters.generations, r.run.model, r.run.pedigree, r.run.genotypes, r.stream,
                 r.helper);
  keep_records_of(r.run.genotyped, r.run.genotypes);
  r.clock.lap(r.seconds.loss);
  if (r.writer != nullptr) r.writer->counts(parameters.founders, parameters.rows);
  // A panel's outputs are written once the panel is complete.
  inject_errors(r.run.model, r.run.pedigree, r.run.genotypes, r.stream, r.run.altered,
                r.run.has_panel() ? nullptr : r.writer);
}

// The replacement first alleles of a panel's markers: the model's shares
// when every marker is like the design's, else 1..K+1 evenly.
std::vector<double> panel_replacement_shares(const Simulation& run) {
  if (run.markers.is_design_marker_model()) return run.model.replacement_shares;
  const std::size_t choices = static_cast<std::size_t>(run.panel.map().alleles) + 1;
  return std::vector<double>(choices, 1.0 / static_cast<double>(choices));
}

// Drops the panel onto the bred pedigree and degrades its records: by the
// design's loss and error rules (the design's marker, when it is marker 1,
// keeps its own records), or by the chosen models.
void breed_panel(RunInProgress& r) {
  Simulation& run = r.run;
  // The design's marker is marker 1 when it was bred with the pedigree.
  const bool design_first = run.markers.is_design_marker_model() && !run.is_supplied();
  if (run.records.has_design_records()) {
    drop_genes(run.pedigree, run.genotypes, run.seed, design_first, run.panel, r.helper, nullptr,
               r.stop, r.progress);
    r.clock.lap(r.seconds.panel);
    r.check_stop();
    degrade_panel(run.pedigree, run.genotypes, run.model, panel_replacement_shares(run), run.seed,
                  design_first, run.panel, r.helper);
    run.error_candidates = static_cast<std::int64_t>(run.panel.candidates().size());
    r.clock.lap(r.seconds.records);
    return;
  }
  // The records of each animal are drawn as it is bred.
  const RecordOptions& records = run.records;
  const ErrorMatrix matrix =
      records.error_model_row().kernel->kind == ErrorKernel::Kind::kMatrix
          ? read_error_matrix(std::string(error_model_argument(records.error_model)))
          : ErrorMatrix{};
  PanelFill(run.panel).set_bred(run.pedigree.created());
  keep_panel_records_of(run.genotyped, run.panel);
  RecordRows rows(run.pedigree, run.genotypes, run.model, panel_replacement_shares(run), records,
                  matrix, run.seed, run.panel, design_first);
  drop_genes(run.pedigree, run.genotypes, run.seed, design_first, run.panel, r.helper, &rows,
             r.stop, r.progress);
  rows.finish();
  run.error_candidates = rows.error_candidates();
  r.clock.lap(r.seconds.panel);
}

// The pedigree as recorded, once the genes are dropped on the true one,
// and the records of mixed-up samples.
void record_pedigree(Simulation& run) {
  if (run.records.has_parent_errors()) {
    run.pedigree_changes = record_pedigree_errors(run.pedigree, run.records, run.seed);
  }
  run.pedigree_changes = swap_samples(run.panel, run.pedigree, std::move(run.pedigree_changes),
                                      run.records.swap, run.seed);
}

}  // namespace

std::vector<std::uint8_t> detectable_errors(const Simulation& run) {
  return detectable_flags(run.pedigree, run.panel);
}

std::vector<std::int64_t> inconsistencies_by_marker(const Simulation& run) {
  if (!run.has_panel()) {
    const InconsistencyCount count = count_inconsistencies(run.pedigree, run.genotypes);
    return {count.involving_altered + count.not_involving_altered};
  }
  return count_panel(run).inconsistent_by_marker;
}

RecordSummary summarize_records(const Simulation& run) {
  RunChecks checks(run);
  return summarize_records(run, checks.detectable(), checks.marker_table());
}

std::string model_text(const Model& model, const MarkerOptions& markers,
                       const RecordOptions& records) {
  std::string text = model.name();
  if (!markers.is_design()) text.append(" ").append(markers.describe());
  if (!records.is_design()) text.append(" ").append(records.describe());
  return text;
}

Simulation simulate(const Parameters& parameters, const Seed& seed, const OutputSinks& outputs,
                    const Model& model, const MarkerOptions& markers,
                    const RecordOptions& records) {
  PhaseSeconds unused;
  return simulate_timed(parameters, seed, unused, outputs, model, markers, records);
}

namespace {

void check_run_options(const Seed& seed, const Model& model, const MarkerOptions& markers,
                       const RecordOptions& records) {
  model.validate();
  markers.validate();
  records.validate(markers);
  if (!markers.only_chromosomes.empty() && records.exact_error_count) {
    throw InvalidParameters(
        "--error-count exact places its errors over the whole panel at once, so a run of it "
        "cannot be split by --only-chromosomes");
  }
  if (seed.replicate < 0 || seed.replicate > kMaxReplicate) {
    throw InvalidParameters("the replicate must be from 0 to " + std::to_string(kMaxReplicate) +
                            ", got " + std::to_string(seed.replicate));
  }
}

}  // namespace

void check_panel_fits(std::int64_t animals, const MarkerOptions& markers,
                      const RecordOptions& records) {
  const double bytes = panel_bytes(animals, markers, records);
  const std::int64_t count = markers.marker_file ? 0 : markers.markers;
  const auto limit = static_cast<double>(memory_limit());
  if (bytes <= limit) return;
  char text[256];
  std::snprintf(text, sizeof text,
                "pedsim: this run's marker panel (%lld animals x %lld markers) needs about "
                "%.1f GB of memory, more than the %.1f GB this machine can give\n",
                static_cast<long long>(animals), static_cast<long long>(count), bytes / 1e9,
                limit / 1e9);
  throw Stop(code::kNoMemory, severe_text(code::kNoMemory, 0, {}, 0) + text);
}

namespace {

// The design's stream of a seed and replicate.
UniformStream seeded_stream(const Seed& seed) {
  UniformStream stream;
  stream.seed_from_sum(seed.value);
  stream.jump_to_replicate(seed.replicate, kReplicateStride);
  return stream;
}

// The counts a supplied pedigree gives: its generations, founders (males
// among them), and rows.
Parameters parameters_of(const SuppliedPedigree& supplied) {
  Parameters p;
  p.rows = supplied.animals();
  for (std::int32_t a = 1; a <= p.rows; ++a) {
    const auto i = static_cast<std::size_t>(a);
    p.generations = std::max(p.generations, supplied.generation[i]);
    if (supplied.generation[i] != 0) continue;
    ++p.founders;
    p.males += supplied.sex[i] == kMale ? 1 : 0;
  }
  p.females = p.founders - p.males;
  return p;
}

// Markers on X or Y follow each animal's sex: a pedigree that leaves one
// unknown stops the run, naming the first.
void check_sexes_known(const Simulation& run) {
  if (run.panel.x_markers().empty() && run.panel.y_markers().empty()) return;
  std::int32_t first = 0;
  std::int32_t unknown = 0;
  for (std::int32_t a = 1; a <= run.pedigree.created(); ++a) {
    if (run.pedigree.sex[a] == kMale || run.pedigree.sex[a] == kFemale) continue;
    if (first == 0) first = a;
    ++unknown;
  }
  if (first == 0) return;
  std::string text = "the pedigree gives no sex for animal " + run.animal_name(first);
  if (unknown > 1) text.append(" (and ").append(std::to_string(unknown - 1)).append(" more)");
  stop_usage(
      text.append("; the markers on X and Y follow each animal's sex: give it in the "
                  "pedigree's sex column (1 or M male, 2 or F female)"));
}

}  // namespace

Simulation simulate(const SuppliedPedigree& supplied, const Seed& seed, const OutputSinks& outputs,
                    const Model& model, const MarkerOptions& markers,
                    const RecordOptions& records) {
  check_run_options(seed, model, markers, records);
  if (supplied.animals() < 1) throw InvalidParameters("the pedigree lists no animal");
  check_panel_fits(supplied.animals(), markers, records);
  Simulation run;
  run.parameters = parameters_of(supplied);
  run.model = model;
  run.seed = seed;
  run.markers = markers;
  run.records = records;
  run.names = supplied.names;
  run.added_founders = supplied.added_founders;
  run.added_founder_names = supplied.added_founder_names;
  run.genotyped = supplied.genotyped;
  const std::int32_t n = supplied.animals();
  run.pedigree = Pedigree(n);
  run.animals_born.assign(static_cast<std::size_t>(run.parameters.generations) + 1, 0);
  for (std::int32_t a = 1; a <= n; ++a) {
    const auto i = static_cast<std::size_t>(a);
    run.pedigree.sire[a] = supplied.sire[i];
    run.pedigree.dam[a] = supplied.dam[i];
    run.pedigree.sex[a] = static_cast<std::int8_t>(supplied.sex[i]);
    run.pedigree.born[a] = supplied.generation[i];
    ++run.animals_born[static_cast<std::size_t>(supplied.generation[i])];
  }
  run.pedigree.add_created(n);
  run.genotypes = GenotypeStore(n, {model.alleles()});
  run.panel = Panel(n, marker_map_of(markers, model, seed));
  check_sexes_known(run);
  UniformStream stream = seeded_stream(seed);
  const std::uint64_t first_number = stream.draws();
  const OutputSinks console = console_only(outputs);
  std::optional<DesignOutputs> writer;
  if (writes_anything(console)) writer.emplace(console, run.pedigree, run.genotypes);
  HelperThread helper;
  PhaseClock clock;
  PhaseSeconds seconds;
  RunInProgress r{run,          stream,          writer ? &*writer : nullptr,
                  helper,       clock,           seconds,
                  outputs.stop, outputs.progress};
  degrade_records(r);
  r.check_stop();
  if (writer) writer->finish();
  run.numbers_drawn = stream.draws() - first_number;
  breed_panel(r);
  record_pedigree(run);
  write_panel_outputs(run.pedigree, run.panel, outputs, run.records.is_design_errors());
  return run;
}

Simulation simulate_timed(const Parameters& parameters, const Seed& seed, PhaseSeconds& seconds,
                          const OutputSinks& outputs, const Model& model,
                          const MarkerOptions& markers, const RecordOptions& records) {
  check_run_options(seed, model, markers, records);
  check_panel_fits(parameters.rows, markers, records);
  Simulation run;
  run.parameters = parameters;
  run.model = model;
  run.seed = seed;
  run.pedigree = Pedigree(parameters.rows);
  run.genotypes = GenotypeStore(parameters.rows, {model.alleles()});
  run.markers = markers;
  run.records = records;
  if (!markers.is_design() || !records.is_design()) {
    run.panel = Panel(parameters.rows, marker_map_of(markers, model, seed));
  }
  // The design's one stream: every stage of the design's rules draws from it
  // in the design's order. Later layers draw from streams of their own
  // (LayerStream), so that switching one on moves none of these numbers.
  UniformStream stream = seeded_stream(seed);
  // A replicate counts the numbers of its own stream only.
  const std::uint64_t first_number = stream.draws();
  // Declared after the table, so that it stops before the table is released.
  BackgroundPopulator populator;
  if (parameters.rows >= kPopulatedTableRows) {
    populator.start(table_blocks(run.pedigree, run.genotypes));
  }
  // A panel's records are written once it is complete: only the console
  // goes as the run forms.
  const OutputSinks formed = run.has_panel() ? console_only(outputs) : outputs;
  std::optional<DesignOutputs> writer;
  if (writes_anything(formed)) writer.emplace(formed, run.pedigree, run.genotypes);
  HelperThread helper;
  PhaseClock clock;
  RunInProgress r{run,          stream,          writer ? &*writer : nullptr,
                  helper,       clock,           seconds,
                  outputs.stop, outputs.progress};
  breed_pedigree(r);
  degrade_records(r);
  r.check_stop();
  if (writer) writer->finish();
  clock.lap(seconds.injection);
  run.numbers_drawn = stream.draws() - first_number;
  if (run.has_panel()) {
    breed_panel(r);
    record_pedigree(run);
    write_panel_outputs(run.pedigree, run.panel, outputs, run.records.is_design_errors());
  }
  return run;
}

void write_files(const Simulation& run, const std::string& folder,
                 const std::optional<std::string>& truth, const std::optional<std::string>& summary,
                 bool true_genotypes, const Formats& formats,
                 const RelatednessOptions& relatedness) {
  if (folder.empty()) stop_usage("the folder's name is empty; give a folder, or \".\"");
  formats.check(run.markers, run.records);
  relatedness.check(run.markers);
  const auto in_folder = [&folder](const std::optional<std::string>& name) {
    return name ? std::optional(relative_path(folder, *name)) : std::nullopt;
  };
  RunPlan plan = plan_for(run.records, formats, true_genotypes, run.is_supplied(), folder);
  plan.make_folder = true;
  plan.truth = in_folder(truth);
  plan.summary = in_folder(summary);
  plan.run_row = true;
  plan.ask_relatedness(relatedness);
  check_distinct(files_of(plan));
  RunFiles files(plan);
  try {
    files.open();
    files.empty_outputs(run.seed, model_text(run.model, run.markers, run.records));
    write_outputs(run, files.sinks(nullptr));
    files.finish(run);
  } catch (const Stop& stop) {
    files.failed(stop.status());
    throw;
  } catch (const std::bad_alloc&) {
    files.failed(code::kNoMemory);
    throw;
  }
}

void write_outputs(const Simulation& run, const OutputSinks& outputs) {
  DesignOutputs writer(run.has_panel() ? console_only(outputs) : outputs, run.pedigree,
                       run.genotypes);
  for (std::int32_t g = 1; g <= run.parameters.generations; ++g) writer.generation_begins(g);
  writer.counts(run.parameters.founders, run.parameters.rows);
  if (!run.has_panel()) {
    for (const AlteredAnimal& animal : run.altered) writer.altered(animal);
  }
  writer.finish();
  if (run.has_panel()) {
    write_panel_outputs(run.pedigree, run.panel, outputs, run.records.is_design_errors());
  }
}

}  // namespace pedsim
