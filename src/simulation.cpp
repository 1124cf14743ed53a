// The library's one sequence of phases: simulate a run in memory, and write
// the outputs of a finished run.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "io/diagnostic.hpp"
#include "io/output_file.hpp"
#include "io/output_writer.hpp"
#include "io/run_files.hpp"
#include "pedsim/pedsim.hpp"
#include "platform/large_memory.hpp"
#include "random/uniform_stream.hpp"
#include "sim/error_injection.hpp"
#include "sim/founders.hpp"
#include "sim/genotype_loss.hpp"
#include "sim/mating.hpp"
#include "sim/parent_lists.hpp"
#include "sim/parent_selection.hpp"

namespace pedsim {

namespace {

// Tables from this many rows on are mapped in the background while the run
// fills them (their hundreds of page faults cost more than starting a
// thread); smaller ones are mapped as they are touched.
constexpr std::int32_t kPopulatedTableRows = 1 << 15;

template <typename T>
void add_block(std::vector<BackgroundPopulator::Block>& blocks, const Column<T>& column) {
  blocks.push_back({column.storage(), column.storage_bytes()});
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

bool writes_anything(const OutputSinks& outputs) {
  return outputs.console != nullptr || outputs.pedigree != nullptr || outputs.errors != nullptr;
}

}  // namespace

Simulation simulate(const Parameters& parameters, const Seed& seed, const OutputSinks& outputs,
                    const Model& model) {
  model.validate();
  if (seed.replicate < 0 || seed.replicate > kMaxReplicate) {
    throw InvalidParameters("the replicate must be from 0 to " + std::to_string(kMaxReplicate) +
                            ", got " + std::to_string(seed.replicate));
  }
  Simulation run;
  run.parameters = parameters;
  run.model = model;
  run.seed = seed;
  run.pedigree = Pedigree(parameters.rows);
  run.genotypes = GenotypeStore(parameters.rows, {model.alleles()});
  Pedigree& pedigree = run.pedigree;
  GenotypeStore& genotypes = run.genotypes;
  ParentLists parents(parameters);
  UniformStream stream;
  stream.seed_from_sum(seed.value);
  stream.jump_to_replicate(seed.replicate, kReplicateStride);
  // A replicate counts the numbers of its own stream only.
  const std::uint64_t first_number = stream.draws();
  // Declared after the table, so that it stops before the table is released.
  BackgroundPopulator populator;
  if (parameters.rows >= kPopulatedTableRows) populator.start(table_blocks(pedigree, genotypes));
  std::optional<OutputWriter> writer;
  if (writes_anything(outputs)) writer.emplace(outputs, pedigree, genotypes);

  PhaseClock clock;
  create_founders(parameters, model, pedigree, genotypes, stream, parents);
  run.animals_born.push_back(parameters.founders);
  clock.lap(run.seconds.founders);
  Candidates candidates;
  MatingScratch mating;
  HelperThread helper;
  for (std::int32_t g = 1; g <= parameters.generations; ++g) {
    if (writer) writer->generation_begins(g);
    run.animals_born.push_back(
        mate_generation(parameters, pedigree, genotypes, parents, stream, mating, g, helper));
    clock.lap(run.seconds.mating);
    // The sires and dams chosen after the last generation would never be
    // used: only the numbers their choice draws are taken.
    if (g < parameters.generations) {
      select_parents(pedigree, candidates, parents, stream, helper);
    } else {
      skip_parent_selection(pedigree, stream);
    }
    clock.lap(run.seconds.selection);
  }
  lose_genotypes(parameters.generations, model, pedigree, genotypes, stream, helper);
  clock.lap(run.seconds.loss);
  if (writer) writer->counts(parameters.founders, parameters.rows);
  inject_errors(model, pedigree, genotypes, stream, run.altered, writer ? &*writer : nullptr);
  if (writer) writer->finish();
  clock.lap(run.seconds.injection);
  run.numbers_drawn = stream.draws() - first_number;
  return run;
}

void write_files(const Simulation& run, const std::string& folder,
                 const std::optional<std::string>& truth,
                 const std::optional<std::string>& summary) {
  if (folder.empty()) stop_usage("the folder's name is empty; give a folder, or \".\"");
  const auto in_folder = [&folder](const std::optional<std::string>& name) {
    return name ? std::optional(relative_path(folder, *name)) : std::nullopt;
  };
  const RunPlan plan{.folder = folder,
                     .make_folder = true,
                     .truth = in_folder(truth),
                     .summary = in_folder(summary),
                     .run_row = true};
  check_distinct(plan.files());
  RunFiles files(plan);
  try {
    files.open();
    files.empty_outputs(run.seed, run.model);
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
  OutputWriter writer(outputs, run.pedigree, run.genotypes);
  for (std::int32_t g = 1; g <= run.parameters.generations; ++g) writer.generation_begins(g);
  writer.counts(run.parameters.founders, run.parameters.rows);
  for (const AlteredAnimal& animal : run.altered) writer.altered(animal);
  writer.finish();
}

}  // namespace pedsim
