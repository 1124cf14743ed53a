#pragma once

#include <sys/types.h>

#include <ctime>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/unit_file.hpp"
#include "io/whole_file.hpp"
#include "formats/format_files.hpp"
#include "pedsim/formats.hpp"
#include "pedsim/relatedness.hpp"
#include "pedsim/simulation.hpp"
#include "reports/reports.hpp"

namespace pedsim {

inline constexpr std::string_view kConsoleCopyName = "console.txt";
inline constexpr std::string_view kTrueGenotypesName = "true.pre";
inline constexpr std::string_view kErrorTableName = "errors.tsv";
inline constexpr std::string_view kIdsName = "ids.tsv";
inline constexpr std::string_view kPedigreeTruthName = "pedigree_truth.tsv";
inline constexpr std::string_view kSegmentsName = "segments.tsv";
inline constexpr std::string_view kKinshipName = "kinship.tsv";
inline constexpr std::string_view kPairsName = "pairs.tsv";

// Where one run writes, and what it is asked for.
struct RunPlan {
  // The folder of ped.pre, ped.errors, run.tsv and console.txt, made with
  // its parents when `make_folder` is set and it is missing.
  std::string folder = ".";
  bool make_folder = false;
  // pedsim picked the folder's name (a study's rNNNNN): a link there is
  // refused rather than followed.
  bool own_folder = false;
  // Report paths, as they are opened.
  std::optional<std::string> truth;
  std::optional<std::string> summary;
  // run.tsv, the run's line of a replicate table.
  bool run_row = false;
  // console.txt, the run's console.
  bool console_copy = false;
  // ids.tsv: the animals' numbers and names (a supplied pedigree).
  bool ids = false;
  // pedigree_truth.tsv: the parents recorded wrongly or not at all.
  bool pedigree_truth = false;
  // The files of the recorded genotypes and pedigree (ped.pre, ped.bed, ...).
  Formats formats;
  // The true genotypes in the same formats (true.pre, true.bed, ...).
  bool true_genotypes = false;
  // The records are degraded by other than the design's rules: errors.tsv
  // (under another error model) and run.tsv's record columns.
  TableColumns columns = TableColumns::kDesign;
  bool error_table = false;
  // segments.tsv, kinship.tsv and pairs.tsv.
  RelatednessOptions relatedness;

  // Asks for the relatedness truth, and run.tsv's columns of it.
  void ask_relatedness(const RelatednessOptions& options) {
    relatedness = options;
    columns.relatedness = options.ibd;
  }
};

// The plan of a run's files in `folder` as its records, formats and
// pedigree decide them: ids.tsv for a supplied pedigree, pedigree_truth.tsv,
// errors.tsv, the genotype files and run.tsv's columns. The caller adds the
// reports, run.tsv, console.txt and how the folder is made.
RunPlan plan_for(const RecordOptions& records, const Formats& formats, bool true_genotypes,
                 bool supplied_pedigree, std::string folder = ".");

// A run as the files written whole at its end see it: finished (`run` set)
// or stopped with `status`.
struct RunOutcome {
  const Simulation* run = nullptr;
  Seed seed;
  std::string model;
  int status = 0;
  std::string_view console;
  std::optional<RunCounts> counts;
  TableColumns columns = TableColumns::kDesign;
  // The checks between relatives the outputs share (null: none made).
  RunChecks* checks = nullptr;
  // The relatedness truth and the pairs' (null: not asked for).
  const Relatedness* relatedness = nullptr;
  const std::vector<PairTruth>* pairs = nullptr;
};

// One kind of file a run can write: a row of the table of outputs.
struct OutputKind {
  // The file's name in the run's folder; for a report, the option that
  // names it ("--truth").
  std::string_view name;
  int unit;
  enum class Written {
    kAsFormed,            // emptied once the arguments are good, written as the run forms
    kWhole,               // written beside its target, which it replaces once complete
    kWholeEvenOnFailure,  // and rewritten to tell how a run that failed ended
  } written;
  // For a report: its path in the plan. Else whether the plan asks for it
  // (null: always written).
  const std::optional<std::string> RunPlan::*path = nullptr;
  bool (*asked)(const RunPlan& plan) = nullptr;
  // The writer of a file written whole.
  void (*write)(const RunOutcome& outcome, ByteSink& out) = nullptr;
  // A file written by a library that opens files itself, with an index
  // beside it: the index's name (written by the format's writer).
  std::string_view index = {};
  // A file of a genotype format (asked for by the plan's formats): its
  // format, its file and writer there, and whether it holds the recorded
  // or the true genotypes.
  const GenotypeFormat* format = nullptr;
  const FormatFile* format_file = nullptr;
  Genotypes genotypes = Genotypes::kRecorded;
};

// Every kind of file, in the order they are written: ped.pre, ped.errors,
// the reports, the genotype files, console.txt, run.tsv (last: a run.tsv
// that says status 0 vouches for every other file of the run).
std::span<const OutputKind> output_kinds();

// One file of a run: its kind, how messages name it ("ped.pre",
// "--truth t.txt") and the path it is opened by; `index` for the index
// written with a file of its kind.
struct RunFile {
  const OutputKind* kind;
  std::string label;
  std::string path;
  bool index = false;
};

// The files a plan asks for, in the table's order.
std::vector<RunFile> files_of(const RunPlan& plan);

// Whether two paths name one file: the same device and inode where both
// exist, else the same path once resolved as far as it can be.
bool same_file(const std::string& a, const std::string& b);

// Files of the run's set of names in its folder that it did not write,
// from before it: removed when they are an earlier run's (the folder held
// its run.tsv, written last, and they were not changed after it), else
// kept, since pedsim cannot tell them from the user's.
struct EarlierFiles {
  std::vector<std::string> removed;
  std::vector<std::string> kept;
};

// Stops with a usage error when two of `files` are one file.
void check_distinct(const std::vector<RunFile>& files);

// Stops with a usage error when the descriptor `fd` (standard output or
// error, named by `stream`) writes to one of `files`.
void check_not_written_by(int fd, std::string_view stream, const std::vector<RunFile>& files);

// Something writing files that must be tidied away when the process is
// stopped from outside.
class Abandonable {
 public:
  virtual ~Abandonable() = default;
  // Removes the unfinished files, and the earlier files that describe
  // results now lost. Called with the registry's lock held; never throws.
  virtual void abandon() const noexcept = 0;
};

// The runs of a process that are writing files, so that an interrupt can
// tidy up after all of them. Files are created, renamed and removed under
// its lock, so that nothing changes once the tidying has begun.
class FileRegistry {
 public:
  void add(const Abandonable* writer);
  void remove(const Abandonable* writer);
  std::unique_lock<std::mutex> lock() { return std::unique_lock(mutex_); }
  // Abandons every registered writer and returns holding the lock, so that
  // no file is created or renamed until the process ends. Without `wait`,
  // gives up (owning no lock) when the lock is held.
  std::unique_lock<std::mutex> abandon_all(bool wait) noexcept;

 private:
  std::mutex mutex_;
  std::vector<const Abandonable*> writers_;
};

// The files of one run, from their opening to the end of the run. The
// outputs are opened at the start but emptied only once the arguments are
// known good, under the folder's lock, held until the last file is in place.
// Reports, run.tsv and console.txt replace earlier ones only once complete;
// a run that fails after emptying its outputs leaves no report of their
// name, and run.tsv says how it failed.
class RunFiles : public Abandonable {
 public:
  explicit RunFiles(RunPlan plan, FileRegistry* registry = nullptr);
  RunFiles(const RunFiles&) = delete;
  RunFiles& operator=(const RunFiles&) = delete;
  ~RunFiles() override;

  // Opens ped.pre (when asked) and ped.errors, keeping what they hold, and
  // creates the reports' new files; a failure stops the run with the
  // file-open diagnostic.
  void open();
  // The arguments (the run's seed and model, as reports name it) are known
  // good: takes the folder's lock, a lock on each file written as the run
  // forms (a second run writing one stops with status 2), removes the new
  // files a killed run of the same names left (returning their paths) and
  // empties the outputs.
  std::vector<std::string> empty_outputs(const Seed& seed, const std::string& model);
  // Sinks writing ped.pre (when asked) and ped.errors, with `console` as the
  // console.
  OutputSinks sinks(ByteSink* console, bool quiet_console = false);
  // Told as the run and its files are written; null: nobody.
  void show_progress(Progress* progress) { progress_ = progress; }
  // The file open on `fd` (the console sent to DIR/console.txt) is this
  // run's own, not an earlier run's: it is neither removed nor warned of.
  void own_stream(int fd);
  // The run is complete: closes the outputs, puts the reports, console.txt
  // (holding `console_text`) and run.tsv in place, and releases the lock.
  // Before run.tsv, the files of an earlier run that this one did not
  // write are dealt with (see EarlierFiles) and returned.
  EarlierFiles finish(const Simulation& run, std::string_view console_text = {});
  // A run that stopped with `status`: removes what must not stay and, when
  // the outputs were emptied, writes console.txt and run.tsv with the status.
  void failed(int status, std::string_view console_text = {}) noexcept;
  void abandon() const noexcept override;

  // The counts of run.tsv, once the run has finished.
  const std::optional<RunCounts>& counts() const { return counts_; }

 private:
  std::unique_lock<std::mutex> hold();
  void make_folder() const;
  void commit(WholeFile& file);
  void write_whole(WholeFile& file, const OutputKind& kind, const RunOutcome& outcome);
  void write_indexed(WholeFile& file, WholeFile& index, const OutputKind& kind,
                     const RunOutcome& outcome);
  UnitFile* formed(int unit);
  EarlierFiles deal_with_earlier_files() const;
  void lock_for_run(UnitFile& file);
  void release_lock() noexcept;

  RunPlan plan_;
  std::vector<RunFile> files_;
  FileRegistry* registry_;
  // The files written as the run forms, and the files written whole, each
  // in the table's order.
  std::deque<UnitFile> formed_;
  std::vector<int> formed_units_;
  std::deque<WholeFile> whole_;
  std::vector<const RunFile*> whole_files_;
  // Locks held until the last file of the run is in place.
  std::vector<int> locks_;
  bool outputs_emptied_ = false;
  // When the folder held a run.tsv before this run, when that was written:
  // the files of that run are no newer.
  std::optional<std::timespec> earlier_run_end_;
  std::optional<Seed> seed_;
  std::string model_;
  std::optional<RunCounts> counts_;
  Progress* progress_ = nullptr;
  // The device and inode of the files the run's own streams write.
  std::vector<std::pair<dev_t, ino_t>> own_streams_;
};

}  // namespace pedsim
