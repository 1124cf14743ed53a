#include "io/run_files.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "io/diagnostic.hpp"

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

std::vector<RunFile> RunPlan::files() const {
  std::vector<RunFile> files{{"ped.pre", relative_path(folder, kPedPreName)},
                             {"ped.errors", relative_path(folder, kPedErrorsName)}};
  if (run_row) files.push_back({std::string(kRunRowName), relative_path(folder, kRunRowName)});
  if (console_copy) {
    files.push_back({std::string(kConsoleCopyName), relative_path(folder, kConsoleCopyName)});
  }
  if (truth) files.push_back({"--truth " + *truth, *truth});
  if (summary) files.push_back({"--summary " + *summary, *summary});
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

void check_distinct(const std::vector<RunFile>& files) {
  for (std::size_t k = 1; k < files.size(); ++k) {
    for (std::size_t j = 0; j < k; ++j) {
      if (same_file(files[k].path, files[j].path)) {
        stop_usage(files[k].label + " names the same file as " + files[j].label +
                   "; give each file of a run a name of its own");
      }
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
    : plan_(std::move(plan)), registry_(registry) {
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
  pre_.open(plan_.folder, kPedPreName, unit::kPedPre, OutputFile::Existing::kKeep);
  errors_.open(plan_.folder, kPedErrorsName, unit::kPedErrors, OutputFile::Existing::kKeep);
  const auto guard = hold();
  if (plan_.run_row) row_.aim(plan_.folder, kRunRowName, unit::kRunRow, Links::kReplace);
  if (plan_.console_copy) {
    console_.aim(plan_.folder, kConsoleCopyName, unit::kConsoleCopy, Links::kReplace);
  }
  if (plan_.truth) truth_.aim(".", *plan_.truth, unit::kTruth, Links::kFollow);
  if (plan_.summary) summary_.aim(".", *plan_.summary, unit::kSummary, Links::kFollow);
  for (ReportFile* report : {&truth_, &summary_}) {
    if (report->is_aimed()) report->create();
  }
}

std::vector<std::string> RunFiles::empty_outputs(const Seed& seed, const Model& model) {
  seed_ = seed;
  model_ = model.name();
  const int lock = ::fcntl(pre_.descriptor(), F_DUPFD_CLOEXEC, 0);
  if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
    if (lock >= 0) ::close(lock);
    throw Stop(code::kUsage,
               "pedsim: another pedsim run is writing " + pre_.path() +
                   "; wait for it to end, or run in another folder\n",
               EWOULDBLOCK, pre_.path());
  }
  // Held until the last file of the run is in place.
  lock_ = lock;
  std::vector<NewFileNames> folders;
  for (const ReportFile* file : {&truth_, &summary_, &row_, &console_}) {
    if (file->is_aimed()) add_new_file_name(folders, file->target_path());
  }
  std::vector<std::string> removed;
  for (const NewFileNames& folder : folders) {
    const auto left = remove_unfinished_files(folder.dir, folder.names,
                                              {truth_.new_path(), summary_.new_path()});
    removed.insert(removed.end(), left.begin(), left.end());
  }
  pre_.truncate();
  errors_.truncate();
  const auto guard = hold();
  outputs_emptied_ = true;
  return removed;
}

OutputSinks RunFiles::sinks(ByteSink* console, bool quiet_console) {
  return {.console = console, .pedigree = &pre_, .errors = &errors_, .quiet_console = quiet_console};
}

void RunFiles::commit(ReportFile& file) {
  const auto guard = hold();
  file.commit();
}

void RunFiles::write_atomically(ReportFile& file, std::string_view text) {
  {
    const auto guard = hold();
    file.create();
  }
  file.write(text);
  commit(file);
}

void RunFiles::finish(const Simulation& run, std::string_view console_text) {
  pre_.close();
  errors_.close();
  if (truth_.is_open()) {
    write_truth(run, truth_);
    commit(truth_);
  }
  if (summary_.is_open()) {
    write_summary(run, summary_);
    commit(summary_);
  }
  if (plan_.console_copy) write_atomically(console_, console_text);
  if (plan_.run_row) {
    counts_ = count_run(run.pedigree, run.genotypes);
    write_atomically(row_, run_row_text(run.seed, counts_, 0, run.model.name()));
  }
  release_lock();
}

void RunFiles::failed(int status, std::string_view console_text) noexcept {
  try {
    {
      const auto guard = hold();
      truth_.discard(outputs_emptied_);
      summary_.discard(outputs_emptied_);
      row_.discard();
      console_.discard();
    }
    if (outputs_emptied_) {
      // The earlier files described results that are gone; run.tsv now
      // tells how this run ended, or is removed when even that fails.
      try {
        if (plan_.console_copy) write_atomically(console_, console_text);
        if (plan_.run_row && seed_) {
          write_atomically(row_, run_row_text(*seed_, std::nullopt, status, model_));
        }
      } catch (const std::exception&) {
        const auto guard = hold();
        row_.discard(true);
      }
    }
  } catch (const std::exception&) {
    // The run has failed already; its own diagnostic says why.
  }
  release_lock();
}

void RunFiles::abandon() const noexcept {
  for (const ReportFile* file : {&truth_, &summary_, &row_, &console_}) {
    file->unlink_files(outputs_emptied_);
  }
}

void RunFiles::release_lock() noexcept {
  if (lock_ >= 0) ::close(lock_);
  lock_ = -1;
}

}  // namespace pedsim
