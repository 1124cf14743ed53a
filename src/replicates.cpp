#include "replicates.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "io/diagnostic.hpp"
#include "io/output_file.hpp"
#include "io/reports.hpp"
#include "run_folder.hpp"

namespace pedsim {

namespace {

constexpr std::string_view kConsoleName = "console.txt";
constexpr std::string_view kTableName = "replicates.tsv";

void write_text(int fd, std::string_view text) { Console(fd).write(text); }

void write_whole_file(const std::string& folder, std::string_view name, int unit,
                      std::string_view text) {
  OutputFile file;
  file.open(folder, name, unit);
  file.write(text);
  file.close();
}

// What one replicate gave: its line of the table, and why it failed.
struct Outcome {
  std::string row;
  int status = 0;
  std::string diagnostic;
};

std::optional<std::string> in_folder(const std::string& folder,
                                     const std::optional<std::string>& name) {
  if (!name) return std::nullopt;
  return folder + "/" + *name;
}

Outcome run_replicate(const ReplicateStudy& study, std::int32_t replicate,
                      std::size_t interrupt_slot) {
  const std::string folder = replicate_folder(study.outdir, replicate);
  RunFolder files({.folder = folder,
                   .make_folder = true,
                   .truth = in_folder(folder, study.truth),
                   .summary = in_folder(folder, study.summary),
                   .run_row = true},
                  interrupt_slot);
  Seed seed = study.seed;
  seed.replicate = replicate;
  StringSink console;
  console.write(study.echo);
  Outcome outcome;
  try {
    files.open();
    files.empty_outputs();
    files.run(study.parameters, seed, console);
  } catch (...) {
    const Failure failure = current_failure();
    files.failed(failure.status);
    outcome.status = failure.status;
    outcome.diagnostic = failure.text;
  }
  try {
    write_whole_file(folder, kConsoleName, unit::kConsoleCopy, console.text);
  } catch (const Stop& stop) {
    if (outcome.status == 0) {
      outcome.status = stop.status();
      outcome.diagnostic = stop.text();
    }
  }
  outcome.row = replicate_table_row(
      replicate, seed.value, outcome.status == 0 ? files.counts() : std::nullopt, outcome.status);
  return outcome;
}

// Replicates done so far, shown on a terminal as the study goes on.
class Progress {
 public:
  Progress(int fd, std::int32_t total)
      : fd_(fd), total_(total), shown_(::isatty(fd) == 1), start_(Clock::now()) {}

  void replicate_done(std::int32_t replicate, const Outcome& outcome) {
    const std::lock_guard lock(mutex_);
    ++done_;
    if (outcome.status != 0) {
      write_text(fd_, std::string(shown_ ? "\n" : "") + "pedsim: replicate " +
                          std::to_string(replicate) + " failed with status " +
                          std::to_string(outcome.status) + ":\n" + outcome.diagnostic);
    }
    if (!shown_) return;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
    const double left = elapsed / done_ * (total_ - done_);
    char line[128];
    std::snprintf(line, sizeof line,
                  "\rpedsim: replicates %d/%d, %.1f s elapsed, about %.0f s left ", done_, total_,
                  elapsed, left);
    write_text(fd_, std::string(line) + (done_ == total_ ? "\n" : ""));
  }

 private:
  using Clock = std::chrono::steady_clock;
  int fd_;
  std::int32_t total_;
  bool shown_;
  Clock::time_point start_;
  std::mutex mutex_;
  std::int32_t done_ = 0;
};

bool is_replicate_folder_name(const std::string& name) {
  return name.size() == 6 && name[0] == 'r' &&
         std::all_of(name.begin() + 1, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The table line in a replicate folder's run.tsv; for a folder without one
// (a run that never started, or stopped before it bred), a line of NA.
std::string collected_row(const std::filesystem::path& folder, std::int32_t replicate) {
  const std::string text = [&folder] {
    std::FILE* file = std::fopen((folder / kRunRowName).c_str(), "rb");
    if (file == nullptr) return std::string();
    std::string content;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
      content.append(buffer, n);
    }
    std::fclose(file);
    return content;
  }();
  const std::string header = replicate_table_header();
  if (text.starts_with(header) && text.size() > header.size() && text.ends_with('\n')) {
    return text.substr(header.size());
  }
  return std::to_string(replicate) + "\tNA\tNA\tNA\tNA\tNA\tNA\tNA\n";
}

}  // namespace

std::string replicate_folder(const std::string& outdir, std::int32_t replicate) {
  char name[16];
  std::snprintf(name, sizeof name, "r%05d", replicate);
  return outdir + "/" + name;
}

int run_replicates(const ReplicateStudy& study, int stderr_fd) {
  std::vector<Outcome> outcomes(static_cast<std::size_t>(study.count));
  std::atomic<std::int32_t> next{0};
  Progress progress(stderr_fd, study.count);
  const auto work = [&](std::size_t interrupt_slot) {
    for (std::int32_t i; (i = next.fetch_add(1)) < study.count;) {
      Outcome& outcome = outcomes[static_cast<std::size_t>(i)];
      outcome = run_replicate(study, study.first + i, interrupt_slot);
      progress.replicate_done(study.first + i, outcome);
    }
  };
  std::vector<std::thread> helpers;
  const auto jobs = static_cast<std::size_t>(std::clamp(study.jobs, 1, study.count));
  for (std::size_t slot = 1; slot < std::min(jobs, kInterruptSlots); ++slot) {
    try {
      helpers.emplace_back(work, slot);
    } catch (const std::system_error&) {
      break;  // fewer replicates side by side
    }
  }
  work(0);
  for (std::thread& helper : helpers) helper.join();

  std::string table = replicate_table_header();
  int status = 0;
  for (const Outcome& outcome : outcomes) {
    table += outcome.row;
    if (status == 0) status = outcome.status;
  }
  write_whole_file(study.outdir, kTableName, unit::kReplicateTable, table);
  return status;
}

int collect_replicates(const std::string& outdir, int stderr_fd) {
  std::vector<std::pair<std::int32_t, std::filesystem::path>> folders;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(outdir, error)) {
    const std::string name = entry.path().filename().string();
    if (is_replicate_folder_name(name) && entry.is_directory()) {
      folders.emplace_back(std::stoi(name.substr(1)), entry.path());
    }
  }
  if (error) stop_usage("collect: cannot read the folder " + outdir + " (" + error.message() + ")");
  std::sort(folders.begin(), folders.end());
  std::string table = replicate_table_header();
  bool all_succeeded = true;
  for (const auto& [replicate, folder] : folders) {
    const std::string row = collected_row(folder, replicate);
    all_succeeded = all_succeeded && row.ends_with("\t0\n");
    table += row;
  }
  write_whole_file(outdir, kTableName, unit::kReplicateTable, table);
  write_text(stderr_fd, "pedsim: collected " + std::to_string(folders.size()) +
                            " replicates into " + full_path(outdir, kTableName) + "\n");
  return all_succeeded ? 0 : 1;
}

}  // namespace pedsim
