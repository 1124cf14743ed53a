#include "run/run_files.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "formats/format_files.hpp"
#include "formats/pre_panel.hpp"
#include "io/diagnostic.hpp"
#include "io/progress_sink.hpp"
#include "reports/pedigree_truth.hpp"
#include "reports/relatedness_files.hpp"

namespace pedsim {

namespace {

namespace fs = std::filesystem;

// A path resolved as far as the system lets it be: through links and ".."
// where it can be searched, else as written.
fs::path resolved(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  if (error) return fs::path(path).lexically_normal();
  const fs::path canonical = fs::weakly_canonical(absolute, error);
  return error ? absolute.lexically_normal() : canonical;
}

// The folders and names of the files that are written beside their
// targets and renamed: the reports, run.tsv and console.txt.
struct NewFileNames {
  std::string dir;
  std::vector<std::string> names;
};

void add_new_file_name(std::vector<NewFileNames>& folders, const std::string& target) {
  const fs::path path(target);
  const std::string dir = path.has_parent_path() ? path.parent_path().string() : ".";
  auto folder = std::find_if(folders.begin(), folders.end(),
                             [&dir](const NewFileNames& f) { return f.dir == dir; });
  if (folder == folders.end()) folder = folders.insert(folders.end(), {dir, {}});
  folder->names.push_back(path.filename().string());
}

}  // namespace

namespace {

void write_console(const RunOutcome& outcome, ByteSink& out) { out.write(outcome.console); }

void write_run_row(const RunOutcome& outcome, ByteSink& out) {
  out.write(
      run_row_text(outcome.seed, outcome.counts, outcome.status, outcome.model, outcome.columns));
}

void write_truth_of(const RunOutcome& outcome, ByteSink& out) { write_truth(*outcome.run, out); }

void write_summary_of(const RunOutcome& outcome, ByteSink& out) {
  write_summary(*outcome.run, *outcome.checks, out);
}

void write_error_table_of(const RunOutcome& outcome, ByteSink& out) {
  write_error_table(*outcome.run, outcome.checks->detectable(), out);
}

// ped.pre: the first format's recorded genotypes, written as the run forms.
bool asks_for_pre(const RunPlan& plan) { return plan.formats.has(genotype_formats()[0]); }
bool asks_for_console(const RunPlan& plan) { return plan.console_copy; }
bool asks_for_ids(const RunPlan& plan) { return plan.ids; }
bool asks_for_pedigree_truth(const RunPlan& plan) { return plan.pedigree_truth; }

void write_pedigree_truth_of(const RunOutcome& outcome, ByteSink& out) {
  write_pedigree_truth(*outcome.run, out);
}

void write_ids_of(const RunOutcome& outcome, ByteSink& out) { write_ids(*outcome.run, out); }
bool asks_for_run_row(const RunPlan& plan) { return plan.run_row; }
bool asks_for_ibd(const RunPlan& plan) { return plan.relatedness.ibd; }
bool asks_for_pairs(const RunPlan& plan) { return plan.relatedness.pairs.has_value(); }

void write_segments_of(const RunOutcome& outcome, ByteSink& out) {
  write_segments(*outcome.run, *outcome.relatedness, out);
}

void write_kinship_of(const RunOutcome& outcome, ByteSink& out) {
  write_kinship(*outcome.run, *outcome.relatedness, out);
}

void write_pairs_of(const RunOutcome& outcome, ByteSink& out) {
  write_pairs(*outcome.run, *outcome.pairs, out);
}
bool asks_for_error_table(const RunPlan& plan) { return plan.error_table; }

using Written = OutputKind::Written;

// The files before the genotype formats' and after them.
constexpr OutputKind kFirstKinds[] = {
    {.name = kPedPreName,
     .unit = unit::kPedPre,
     .written = Written::kAsFormed,
     .asked = asks_for_pre},
    {.name = kPedErrorsName, .unit = unit::kPedErrors, .written = Written::kAsFormed},
    {.name = "--truth",
     .unit = unit::kTruth,
     .written = Written::kWhole,
     .path = &RunPlan::truth,
     .write = write_truth_of},
    {.name = "--summary",
     .unit = unit::kSummary,
     .written = Written::kWhole,
     .path = &RunPlan::summary,
     .write = write_summary_of},
    {.name = kIdsName,
     .unit = unit::kIds,
     .written = Written::kWhole,
     .asked = asks_for_ids,
     .write = write_ids_of},
};

constexpr OutputKind kLastKinds[] = {
    {.name = kPedigreeTruthName,
     .unit = unit::kPedigreeTruth,
     .written = Written::kWhole,
     .asked = asks_for_pedigree_truth,
     .write = write_pedigree_truth_of},
    {.name = kErrorTableName,
     .unit = unit::kErrorTable,
     .written = Written::kWhole,
     .asked = asks_for_error_table,
     .write = write_error_table_of},
    {.name = kSegmentsName,
     .unit = unit::kSegments,
     .written = Written::kWhole,
     .asked = asks_for_ibd,
     .write = write_segments_of},
    {.name = kKinshipName,
     .unit = unit::kKinship,
     .written = Written::kWhole,
     .asked = asks_for_ibd,
     .write = write_kinship_of},
    {.name = kPairsName,
     .unit = unit::kPairs,
     .written = Written::kWhole,
     .asked = asks_for_pairs,
     .write = write_pairs_of},
    {.name = kConsoleCopyName,
     .unit = unit::kConsoleCopy,
     .written = Written::kWholeEvenOnFailure,
     .asked = asks_for_console,
     .write = write_console},
    {.name = kRunRowName,
     .unit = unit::kRunRow,
     .written = Written::kWholeEvenOnFailure,
     .asked = asks_for_run_row,
     .write = write_run_row},
};

// A format's file of the recorded or the true genotypes.
OutputKind format_kind(const GenotypeFormat& format, const FormatFile& file, Genotypes genotypes) {
  const bool truth = genotypes == Genotypes::kTrue;
  return {.name = truth ? file.true_name : file.recorded_name,
          .unit = format.files->unit,
          .written = Written::kWhole,
          .index = truth ? file.true_index : file.recorded_index,
          .format = &format,
          .format_file = &file,
          .genotypes = genotypes};
}

std::vector<OutputKind> every_output_kind() {
  std::vector<OutputKind> kinds(std::begin(kFirstKinds), std::end(kFirstKinds));
  for (const GenotypeFormat& format : genotype_formats()) {
    for (const Genotypes genotypes : {Genotypes::kRecorded, Genotypes::kTrue}) {
      for (const FormatFile& file : format.files->files) {
        const OutputKind kind = format_kind(format, file, genotypes);
        if (!kind.name.empty()) kinds.push_back(kind);
      }
    }
  }
  kinds.insert(kinds.end(), std::begin(kLastKinds), std::end(kLastKinds));
  return kinds;
}

bool is_asked(const OutputKind& kind, const RunPlan& plan) {
  if (kind.format != nullptr) {
    return plan.formats.has(*kind.format) &&
           (kind.genotypes == Genotypes::kRecorded || plan.true_genotypes);
  }
  return kind.asked == nullptr || kind.asked(plan);
}

}  // namespace

std::span<const OutputKind> output_kinds() {
  static const std::vector<OutputKind> kinds = every_output_kind();
  return kinds;
}

RunPlan plan_for(const RecordOptions& records, const Formats& formats, bool true_genotypes,
                 bool supplied_pedigree, std::string folder) {
  RunPlan plan;
  plan.folder = std::move(folder);
  plan.ids = supplied_pedigree;
  plan.pedigree_truth = records.has_pedigree_errors();
  plan.formats = formats;
  plan.true_genotypes = true_genotypes;
  plan.columns = table_columns(records);
  plan.error_table = !records.is_design_errors();
  return plan;
}

std::vector<RunFile> files_of(const RunPlan& plan) {
  std::vector<RunFile> files;
  for (const OutputKind& kind : output_kinds()) {
    if (kind.path != nullptr) {
      const std::optional<std::string>& path = plan.*kind.path;
      if (path) files.push_back({&kind, std::string(kind.name) + " " + *path, *path});
    } else if (is_asked(kind, plan)) {
      files.push_back({&kind, std::string(kind.name), relative_path(plan.folder, kind.name)});
      if (!kind.index.empty()) {
        files.push_back(
            {&kind, std::string(kind.index), relative_path(plan.folder, kind.index), true});
      }
    }
  }
  return files;
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  if (::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0) {
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  }
  return resolved(a) == resolved(b);
}

namespace {

bool is_named_by_user(const RunFile& file) {
  return file.kind != nullptr && file.kind->path != nullptr;
}

}  // namespace

void check_distinct(const std::vector<RunFile>& files) {
  for (std::size_t k = 1; k < files.size(); ++k) {
    for (std::size_t j = 0; j < k; ++j) {
      if (!same_file(files[k].path, files[j].path)) continue;
      // A name the user gave is the one to change.
      const bool swap = is_named_by_user(files[j]) && !is_named_by_user(files[k]);
      const RunFile& named = swap ? files[j] : files[k];
      const RunFile& other = swap ? files[k] : files[j];
      stop_usage(named.label + " names the same file as " + other.label +
                 "; give each file of a run a name of its own");
    }
  }
}

void check_not_written_by(int fd, std::string_view stream, const std::vector<RunFile>& files) {
  struct stat console {};
  if (::fstat(fd, &console) != 0 || !S_ISREG(console.st_mode)) return;
  for (const RunFile& file : files) {
    struct stat other {};
    if (::stat(file.path.c_str(), &other) == 0 && other.st_dev == console.st_dev &&
        other.st_ino == console.st_ino) {
      stop_usage(std::string(stream) + " is " + file.label +
                 ", a file this run writes; send it to another file");
    }
  }
}

void FileRegistry::add(const Abandonable* writer) {
  const std::lock_guard guard(mutex_);
  writers_.push_back(writer);
}

void FileRegistry::remove(const Abandonable* writer) {
  const std::lock_guard guard(mutex_);
  writers_.erase(std::remove(writers_.begin(), writers_.end(), writer), writers_.end());
}

std::unique_lock<std::mutex> FileRegistry::abandon_all(bool wait) noexcept {
  std::unique_lock lock(mutex_, std::defer_lock);
  if (wait) {
    lock.lock();
  } else if (!lock.try_lock()) {
    return lock;
  }
  for (const Abandonable* writer : writers_) writer->abandon();
  return lock;
}

RunFiles::RunFiles(RunPlan plan, FileRegistry* registry)
    : plan_(std::move(plan)), files_(files_of(plan_)), registry_(registry) {
  if (registry_ != nullptr) registry_->add(this);
}

RunFiles::~RunFiles() {
  if (registry_ != nullptr) registry_->remove(this);
  release_lock();
}

std::unique_lock<std::mutex> RunFiles::hold() {
  return registry_ != nullptr ? registry_->lock() : std::unique_lock<std::mutex>();
}

void RunFiles::make_folder() const {
  struct stat folder {};
  if (plan_.own_folder && ::lstat(plan_.folder.c_str(), &folder) == 0 && S_ISLNK(folder.st_mode)) {
    stop_usage(full_path(plan_.folder, "") +
               " is a symbolic link; pedsim makes this folder itself and follows no link there");
  }
  if (!plan_.make_folder) return;
  std::error_code error;
  fs::create_directories(plan_.folder, error);
  if (error) {
    stop_with_diagnostic(open_failure_code(error.value()), unit::kPedPre,
                         full_path(plan_.folder, kPedPreName), error.value());
  }
}

void RunFiles::open() {
  make_folder();
  for (const RunFile& file : files_) {
    if (file.kind->written != Written::kAsFormed) continue;
    formed_.emplace_back().open(plan_.folder, file.kind->name, file.kind->unit,
                                UnitFile::Existing::kKeep);
    formed_units_.push_back(file.kind->unit);
  }
  const auto guard = hold();
  for (const RunFile& file : files_) {
    if (file.kind->written == Written::kAsFormed) continue;
    WholeFile& whole = whole_.emplace_back();
    whole_files_.push_back(&file);
    if (file.kind->path != nullptr) {
      // A report the user named: followed through a link, created at once so
      // that a name that cannot be had stops the run before it begins.
      whole.aim(".", file.path, file.kind->unit, Links::kFollow);
      whole.create();
    } else {
      whole.aim(plan_.folder, file.label, file.kind->unit, Links::kReplace);
    }
  }
}

std::vector<std::string> RunFiles::empty_outputs(const Seed& seed, const std::string& model) {
  seed_ = seed;
  model_ = model;
  struct stat run_row {};
  if (plan_.run_row && ::lstat(relative_path(plan_.folder, kRunRowName).c_str(), &run_row) == 0) {
    earlier_run_end_ = run_row.st_mtim;
  }
  for (UnitFile& file : formed_) lock_for_run(file);
  std::vector<NewFileNames> folders;
  std::vector<std::string> own_new_files;
  for (const WholeFile& file : whole_) {
    add_new_file_name(folders, file.target_path());
    if (file.is_open()) own_new_files.push_back(file.new_path());
  }
  std::vector<std::string> removed;
  for (const NewFileNames& folder : folders) {
    const auto left = remove_unfinished_files(folder.dir, folder.names, own_new_files);
    removed.insert(removed.end(), left.begin(), left.end());
  }
  for (UnitFile& file : formed_) file.truncate();
  const auto guard = hold();
  outputs_emptied_ = true;
  return removed;
}

void RunFiles::lock_for_run(UnitFile& file) {
  // A device (/dev/null, /dev/full) is every process's: only files are locked.
  struct stat target {};
  if (::fstat(file.descriptor(), &target) == 0 && !S_ISREG(target.st_mode)) return;
  const int lock = ::fcntl(file.descriptor(), F_DUPFD_CLOEXEC, 0);
  if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
    if (lock >= 0) ::close(lock);
    throw Stop(code::kUsage,
               "pedsim: another pedsim run is writing " + file.path() +
                   "; wait for it to end, or run in another folder\n",
               EWOULDBLOCK, file.path());
  }
  locks_.push_back(lock);
}

UnitFile* RunFiles::formed(int unit) {
  const auto found = std::find(formed_units_.begin(), formed_units_.end(), unit);
  return found == formed_units_.end() ? nullptr : &formed_[found - formed_units_.begin()];
}

OutputSinks RunFiles::sinks(ByteSink* console, bool quiet_console) {
  return {.console = console,
          .pedigree = formed(unit::kPedPre),
          .errors = formed(unit::kPedErrors),
          .quiet_console = quiet_console,
          .progress = progress_};
}

namespace {

// The bytes a format's writer is expected to give for a run's genotypes.
double expected_bytes(const FormatFile& format, const Simulation& run) {
  const double markers = run.has_panel() ? run.panel.markers() : 1;
  return format.bytes_per_genotype * markers * run.pedigree.created();
}

}  // namespace

void RunFiles::commit(WholeFile& file) {
  const auto guard = hold();
  file.commit();
}

void RunFiles::write_whole(WholeFile& file, const OutputKind& kind, const RunOutcome& outcome) {
  if (!file.is_open()) {
    const auto guard = hold();
    file.create();
  }
  if (kind.format_file != nullptr) {
    ProgressSink out(file, progress_, "writing " + std::string(kind.name),
                     expected_bytes(*kind.format_file, *outcome.run));
    kind.format_file->write(*outcome.run, kind.genotypes, out);
  } else {
    kind.write(outcome, file);
  }
  commit(file);
}

void RunFiles::write_indexed(WholeFile& file, WholeFile& index, const OutputKind& kind,
                             const RunOutcome& outcome) {
  for (WholeFile* f : {&file, &index}) {
    if (f->is_open()) continue;
    const auto guard = hold();
    f->create();
  }
  kind.format_file->write_indexed(
      *outcome.run, kind.genotypes,
      {.path = file.new_path(),
       .index_path = index.new_path(),
       .shown_path = file.shown_path(),
       .shown_index_path = index.shown_path(),
       .unit = kind.unit,
       .progress = progress_,
       .stage = "writing " + std::string(kind.name),
       .expected_bytes = expected_bytes(*kind.format_file, *outcome.run),
       .compression_level = plan_.formats.compression_level()});
  commit(file);
  commit(index);
}

void RunFiles::own_stream(int fd) {
  struct stat file {};
  if (::fstat(fd, &file) == 0 && S_ISREG(file.st_mode))
    own_streams_.emplace_back(file.st_dev, file.st_ino);
}

EarlierFiles RunFiles::deal_with_earlier_files() const {
  EarlierFiles earlier;
  const auto written = [this](std::string_view name) {
    return std::any_of(files_.begin(), files_.end(), [name](const RunFile& file) {
      return file.label == name && file.kind->path == nullptr;
    });
  };
  const auto guard = registry_ != nullptr ? registry_->lock() : std::unique_lock<std::mutex>();
  for (const OutputKind& kind : output_kinds()) {
    if (kind.path != nullptr) continue;
    for (const std::string_view name : {kind.name, kind.index}) {
      if (name.empty() || written(name)) continue;
      const std::string path = relative_path(plan_.folder, name);
      struct stat file {};
      if (::lstat(path.c_str(), &file) != 0 || !S_ISREG(file.st_mode)) continue;
      if (std::find(own_streams_.begin(), own_streams_.end(),
                    std::pair{file.st_dev, file.st_ino}) != own_streams_.end()) {
        continue;
      }
      const bool earlier_runs =
          earlier_run_end_ && (file.st_mtim.tv_sec < earlier_run_end_->tv_sec ||
                               (file.st_mtim.tv_sec == earlier_run_end_->tv_sec &&
                                file.st_mtim.tv_nsec <= earlier_run_end_->tv_nsec));
      if (!earlier_runs) {
        earlier.kept.push_back(full_path(plan_.folder, name));
      } else if (::unlink(path.c_str()) == 0) {
        earlier.removed.push_back(full_path(plan_.folder, name));
      }
    }
  }
  return earlier;
}

namespace {

std::array<double, 3> mean_inbreeding(const Relatedness& relatedness) {
  const auto mean = [](const std::vector<double>& values) {
    double sum = 0;
    for (const double v : values) sum += v;
    return values.empty() ? 0 : sum / static_cast<double>(values.size());
  };
  return {mean(relatedness.inbreeding_recorded()), mean(relatedness.inbreeding_true()),
          mean(relatedness.inbreeding_realised())};
}

}  // namespace

EarlierFiles RunFiles::finish(const Simulation& run, std::string_view console_text) {
  for (UnitFile& file : formed_) file.close();
  RunOutcome outcome{.run = &run,
                     .seed = run.seed,
                     .model = model_text(run.model, run.markers, run.records),
                     .status = 0,
                     .console = console_text,
                     .counts = std::nullopt,
                     .columns = plan_.columns};
  RunChecks checks(run);
  outcome.checks = &checks;
  std::optional<Relatedness> relatedness;
  std::vector<PairTruth> pairs;
  if (plan_.relatedness.asked()) {
    relatedness.emplace(run);
    outcome.relatedness = &*relatedness;
    if (plan_.relatedness.pairs) {
      const PairList list = pairs_of(run, *plan_.relatedness.pairs);
      pairs = relatedness->pairs(list.pairs, list.relationships);
      outcome.pairs = &pairs;
    }
  }
  if (plan_.run_row) {
    counts_ = count_run(run, checks);
    if (relatedness) counts_->mean_inbreeding = mean_inbreeding(*relatedness);
    outcome.counts = counts_;
  }
  std::optional<EarlierFiles> earlier;
  for (std::size_t k = 0; k < whole_.size(); ++k) {
    const OutputKind& kind = *whole_files_[k]->kind;
    if (kind.written == Written::kWholeEvenOnFailure && !earlier) {
      earlier = deal_with_earlier_files();
    }
    if (!kind.index.empty()) {
      write_indexed(whole_[k], whole_[k + 1], kind, outcome);
      ++k;
    } else {
      write_whole(whole_[k], kind, outcome);
    }
  }
  if (!earlier) earlier = deal_with_earlier_files();
  release_lock();
  return *earlier;
}

void RunFiles::failed(int status, std::string_view console_text) noexcept {
  try {
    {
      const auto guard = hold();
      for (WholeFile& file : whole_) file.discard(outputs_emptied_);
    }
    if (outputs_emptied_ && seed_) {
      // The earlier files described results that are gone; run.tsv now
      // tells how this run ended, or is absent when even that fails.
      const RunOutcome outcome{.run = nullptr,
                               .seed = *seed_,
                               .model = model_,
                               .status = status,
                               .console = console_text,
                               .counts = std::nullopt,
                               .columns = plan_.columns};
      for (std::size_t k = 0; k < whole_.size(); ++k) {
        const OutputKind& kind = *whole_files_[k]->kind;
        if (kind.written != Written::kWholeEvenOnFailure) continue;
        try {
          write_whole(whole_[k], kind, outcome);
        } catch (const std::exception&) {
          const auto guard = hold();
          whole_[k].discard(true);
        }
      }
    }
  } catch (const std::exception&) {
    // The run has failed already; its own diagnostic says why.
  }
  release_lock();
}

void RunFiles::abandon() const noexcept {
  for (const WholeFile& file : whole_) file.unlink_files(outputs_emptied_);
}

void RunFiles::release_lock() noexcept {
  for (const int lock : locks_) ::close(lock);
  locks_.clear();
}

}  // namespace pedsim
