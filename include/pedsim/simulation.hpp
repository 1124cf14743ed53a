#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pedsim/genotypes.hpp"
#include "pedsim/markers.hpp"
#include "pedsim/model.hpp"
#include "pedsim/parameters.hpp"
#include "pedsim/pedigree.hpp"
#include "pedsim/records.hpp"
#include "pedsim/supplied_pedigree.hpp"

namespace pedsim {

// An animal whose recorded first allele was altered by error injection.
struct AlteredAnimal {
  std::int32_t animal = 0;
  std::int32_t old_allele = 0;  // the recorded first allele before
  friend bool operator==(const AlteredAnimal&, const AlteredAnimal&) = default;
};

// An animal whose recorded parents differ from its true ones (0: unknown),
// or whose records are another animal's sample.
struct PedigreeChange {
  std::int32_t animal = 0;
  std::int32_t true_sire = 0;
  std::int32_t true_dam = 0;
  std::int32_t recorded_sire = 0;
  std::int32_t recorded_dam = 0;
  // The animal whose sample its records were typed from.
  std::int32_t sample = 0;

  friend bool operator==(const PedigreeChange&, const PedigreeChange&) = default;
};

// A finished run, in memory.

struct Simulation {
  Parameters parameters;
  Model model;
  Seed seed;
  Pedigree pedigree;
  GenotypeStore genotypes;
  // The design's marker's alterations, in the order of "ped.errors".
  std::vector<AlteredAnimal> altered;
  MarkerOptions markers;
  RecordOptions records;
  // The marker panel, when the run has more than the design's one marker or
  // records degraded by other than the design's rules (else it has none).
  Panel panel;
  // Offspring created in each generation 1..generations (element 0: founders).
  std::vector<std::int32_t> animals_born;
  // Numbers the run took from its random stream.
  std::uint64_t numbers_drawn = 0;
  // A pedigree the user supplied: each animal's name, by number (element 0
  // unused); empty for a bred pedigree, whose animals are their numbers.
  std::vector<std::string> names;
  // Parents named but not listed, added as founders; the first few names.
  std::int32_t added_founders = 0;
  std::vector<std::string> added_founder_names;
  // Per number, 1 for the animals with records, when the user says which.
  std::vector<std::uint8_t> genotyped;
  // With pedigree errors, `pedigree` holds the recorded parents and these
  // the animals whose parents were recorded wrongly or not at all, or
  // whose records were swapped with another's.
  std::vector<PedigreeChange> pedigree_changes;
  // A panel's error candidates: the animals with a genotype the design's
  // error rule could strike (called, both parents known and not called
  // there, on the true pedigree, before any mix-up); 0 under another error
  // model.
  std::int64_t error_candidates = 0;

  bool has_panel() const { return panel.markers() > 0; }
  bool is_supplied() const { return !names.empty(); }
  // An animal's name: its number, or its name in a supplied pedigree; "0"
  // for none.
  std::string animal_name(std::int32_t animal) const {
    if (animal == 0 || !is_supplied()) return std::to_string(animal);
    return names[static_cast<std::size_t>(animal)];
  }
};

// Per altered genotype of the run's panel (panel.altered(), in its order): 1
// when the error shows on the recorded data, the genotype conflicting with
// its called parents' at that marker or a called offspring's conflicting
// with its called parents' (this animal among them).
std::vector<std::uint8_t> detectable_errors(const Simulation& run);

// Per marker, the called genotypes that cannot come from their called
// parents' recorded genotypes. On two-allele markers this is PLINK's count
// of Mendel errors in trios (plink --mendel, its .lmendel N).
std::vector<std::int64_t> inconsistencies_by_marker(const Simulation& run);

// The realised rates of a run's record models: call rate (called of all
// genotypes) and error rate (altered of called genotypes), overall and
// their smallest and largest across markers, and the altered genotypes and
// how many are detectable.
struct RecordSummary {
  double call_rate = 0;
  double call_rate_marker_min = 0;
  double call_rate_marker_max = 0;
  double error_rate = 0;
  double error_rate_marker_min = 0;
  double error_rate_marker_max = 0;
  std::int64_t altered_genotypes = 0;
  std::int64_t detectable_errors = 0;
};
RecordSummary summarize_records(const Simulation& run);

// How reports name a run's model: "design", or the model's name followed by
// the descriptions of the marker and record models that are not the
// design's.
std::string model_text(const Model& model, const MarkerOptions& markers,
                       const RecordOptions& records = {});

// Where bytes go: a file, standard output, a string.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void write(std::string_view bytes) = 0;
};

// A sink that keeps everything written to it.
class StringSink : public ByteSink {
 public:
  void write(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

// A request, from another thread, that a run stop (an interrupt in an
// interpreter that runs it): the run looks at it between generations and
// phases, and once it is made stops with Stop (status 130).
class StopRequest {
 public:
  void request() noexcept { requested_.store(true, std::memory_order_relaxed); }
  bool requested() const noexcept { return requested_.load(std::memory_order_relaxed); }
  // Stops the run when the request was made.
  void check() const {
    if (requested()) throw Stop(130, "pedsim: interrupted\n");
  }

 private:
  std::atomic<bool> requested_{false};
};

// Runs work(stop) on a thread of its own while this thread asks
// `interrupted()` every tenth of a second; once it says yes the run is
// asked to stop, and when it has, the result is empty (the interrupter
// raises its own signal). Where no thread can be started, the work runs
// here, unwatched. An interpreter's binding runs a long run this way.
std::optional<Simulation> simulate_watched(
    const std::function<Simulation(const StopRequest*)>& work,
    const std::function<bool()>& interrupted);

// Told, from the thread that runs it, how far a run has gone: the stage it
// is in ("dropping the markers", "writing ped.bed") and the share of that
// stage done, 0 to 1. Told often; what it shows, and how often, is its own.
class Progress {
 public:
  virtual ~Progress() = default;
  virtual void at(std::string_view stage, double done) = 0;
};

// The outputs of a run: the console lines after the echo of the arguments
// (a line per generation, the two count lines, the altered animals), the
// pedigree ("ped.pre") and the error list ("ped.errors"). Null: not written.
struct OutputSinks {
  ByteSink* console = nullptr;
  ByteSink* pedigree = nullptr;
  ByteSink* errors = nullptr;
  // The console keeps only the two count lines (no generation lines, no
  // altered animals).
  bool quiet_console = false;
  // Looked at as the run goes on; null: the run is never asked to stop.
  const StopRequest* stop = nullptr;
  // Told as the run goes on; null: nobody is shown.
  Progress* progress = nullptr;
};

// Breeds the pedigree of `parameters` by the rules of `model` (validated:
// InvalidParameters names a value that cannot be used) from the stream of
// `seed` (its replicate 0 to kMaxReplicate, else InvalidParameters):
// founders, generations, genotype loss and error injection. Beyond the
// design's one marker, `markers` (validated too; a bad marker file stops
// with status 2) asks for a panel, dropped onto the pedigree once it is
// bred; `records` chooses the missing-data and error models (at their
// defaults, the design's). With `outputs`, writes the run's outputs as they are formed,
// exactly as write_outputs would write them afterwards. Throws
// std::bad_alloc when memory is short, and Stop when an output cannot be
// written.
Simulation simulate(const Parameters& parameters, const Seed& seed, const OutputSinks& outputs = {},
                    const Model& model = {}, const MarkerOptions& markers = {},
                    const RecordOptions& records = {});

// Drops the markers onto a supplied pedigree instead of a bred one: the
// design's loss schedule (by each animal's generation) and error rule draw
// from the design's stream as they would after breeding, and the marker
// panel (the design's marker model gives one three-allele marker) is
// always dropped on the markers' own streams. ped.pre numbers the animals
// in the pedigree's order.
Simulation simulate(const SuppliedPedigree& supplied, const Seed& seed,
                    const OutputSinks& outputs = {}, const Model& model = {},
                    const MarkerOptions& markers = {}, const RecordOptions& records = {});

// Stops with status 41, saying how much it needs, when the marker panel of
// a run of `animals` animals would take more memory than this machine can
// give (its memory and swap, or the process's address-space limit): a run
// that cannot finish is refused before it allocates anything. Runs without
// a panel pass.
void check_panel_fits(std::int64_t animals, const MarkerOptions& markers,
                      const RecordOptions& records);

// What the truth file and the one-marker fields give of each animal (index
// i - 1 for animal i, rows never bred left out): the first marker's true
// alleles and recorded alleles as the run's files hold them (a panel's
// marker 1, after any mix-up), whether the animal's records were removed
// whole, and whether any of its recorded genotypes was altered (the animals
// of ped.errors, or of errors.tsv under another error model).
struct AnimalTruth {
  std::vector<std::int32_t> true_first, true_second, recorded_first, recorded_second;
  std::vector<std::uint8_t> lost, altered;
};
AnimalTruth animal_truth(const Simulation& run);

// Writes the outputs of a finished run. Throws Stop when a sink fails.
void write_outputs(const Simulation& run, const OutputSinks& outputs);

}  // namespace pedsim
