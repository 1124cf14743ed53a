#include "cli/studies.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/process.hpp"
#include "pedsim/pedsim.hpp"

namespace pedsim {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kTableName = "replicates.tsv";
constexpr std::string_view kManifestName = "study.tsv";

// How messages name a study's folder.
std::string shown_folder(const std::string& outdir) {
  std::string path = full_path(outdir, kTableName);
  path.resize(path.size() - kTableName.size() - 1);
  return path;
}

std::optional<std::string> read_small_file(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  std::string content;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    content.append(buffer, n);
  }
  std::fclose(file);
  return content;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

// A line of the replicate table, read back.
struct TableRow {
  std::string text;  // the line with its newline
  std::int32_t replicate = 0;
  std::string seed;
  std::string status;
};

std::optional<TableRow> parse_row(std::string_view line) {
  const auto fields = split(line, '\t');
  // As many fields as one of the table's layouts has columns.
  const auto is_layout = [&fields](TableColumns columns) {
    return split(replicate_table_header(columns), '\t').size() == fields.size();
  };
  const std::vector<TableColumns> layouts = every_table_columns();
  const bool fits = std::any_of(layouts.begin(), layouts.end(), is_layout);
  const std::optional<std::int32_t> replicate = fits ? parse_int32(fields[0]) : std::nullopt;
  if (!replicate) return std::nullopt;
  return TableRow{std::string(line) + "\n", *replicate, std::string(fields[1]),
                  std::string(fields[7])};
}

// The table line in a replicate folder's run.tsv, when it holds one of
// the table's layout.
std::optional<TableRow> run_row_of(const std::string& folder, std::int32_t replicate,
                                   TableColumns columns) {
  const auto text = read_small_file(relative_path(folder, kRunRowName));
  const std::string header = replicate_table_header(columns);
  if (!text || !text->starts_with(header) || !text->ends_with('\n')) return std::nullopt;
  const std::string_view line = std::string_view(*text).substr(header.size());
  if (line.find('\n') != line.size() - 1) return std::nullopt;
  auto row = parse_row(line.substr(0, line.size() - 1));
  if (!row || row->replicate != replicate) return std::nullopt;
  return row;
}

// Without study.tsv: the widest layout a replicate's run.tsv has, if wider
// than `columns`.
TableColumns widest_columns(const std::string& outdir, std::int32_t first, std::int32_t count,
                            TableColumns columns) {
  std::size_t widest = split(replicate_table_header(columns), '\t').size();
  for (const TableColumns& candidate : every_table_columns()) {
    const std::size_t width = split(replicate_table_header(candidate), '\t').size();
    if (width <= widest) continue;
    for (std::int32_t r = first; r < first + count; ++r) {
      if (run_row_of(replicate_folder(outdir, r), r, candidate)) {
        columns = candidate;
        widest = width;
        break;
      }
    }
  }
  return columns;
}

// The lock of a study's folder, held while a study or collect uses it.
class FolderLock {
 public:
  explicit FolderLock(const std::string& outdir) {
    fd_ = ::open(outdir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
      const int err = errno;
      stop_usage("cannot read the folder " + shown_folder(outdir) + " (" + std::strerror(err) +
                 ")");
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd_);
      throw Stop(code::kUsage,
                 "pedsim: another pedsim study or collect is using " + shown_folder(outdir) +
                     "; wait for it to end\n",
                 EWOULDBLOCK, shown_folder(outdir));
    }
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock() { ::close(fd_); }

 private:
  int fd_ = -1;
};

bool is_replicate_folder_name(const std::string& name) {
  return name.size() == 6 && name[0] == 'r' &&
         std::all_of(name.begin() + 1, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The numbers of the replicate folders in `outdir`, in order.
std::vector<std::int32_t> replicate_folders(const std::string& outdir) {
  std::vector<std::int32_t> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(outdir, error)) {
    const std::string name = entry.path().filename().string();
    if (is_replicate_folder_name(name) && (entry.is_directory(error) || entry.is_symlink(error))) {
      found.push_back(std::stoi(name.substr(1)));
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

// The columns of a study's replicate table.
TableColumns study_columns(const ReplicateStudy& study) {
  TableColumns columns = table_columns(study.records);
  columns.relatedness = study.relatedness.ibd;
  return columns;
}

// The record of a study: what a command must repeat to resume it.
std::string manifest_text(const ReplicateStudy& s) {
  const auto name = [](const std::optional<std::string>& report) { return report.value_or("-"); };
  const std::string pedigree = s.supplied ? "\npedigree\t" + s.pedigree_file
                                          : "\nngen\t" + std::to_string(s.parameters.generations) +
                                                "\nn\t" + std::to_string(s.parameters.founders) +
                                                "\nmale\t" + std::to_string(s.parameters.males);
  return "key\tvalue\nseed\t" + std::to_string(s.seed.value) + "\nfirst_replicate\t" +
         std::to_string(s.first) + "\nreplicates\t" + std::to_string(s.count) + pedigree +
         "\ntruth\t" + name(s.truth) + "\nsummary\t" + name(s.summary) + "\nquiet\t" +
         (s.quiet ? "yes" : "no") + "\nmodel\t" + model_text(s.model, s.markers, s.records) + "\n" +
         (s.true_genotypes ? "true_genotypes\tyes\n" : "") +
         (s.formats.is_default() ? "" : "formats\t" + s.formats.text() + "\n") +
         (s.relatedness.ibd ? "ibd\tyes\n" : "") +
         (s.relatedness.pairs ? "pairs\t" + *s.relatedness.pairs + "\n" : "");
}

std::map<std::string, std::string> manifest_values(const std::string& text) {
  std::map<std::string, std::string> values;
  for (const std::string_view line : split(text, '\n')) {
    const auto fields = split(line, '\t');
    if (fields.size() == 2) values[std::string(fields[0])] = std::string(fields[1]);
  }
  return values;
}

// Records the study in its folder, or finds it recorded there already
// (returns true: the study is resumed). A folder holding another study, or
// replicates that no record describes, is refused.
bool record_study(const ReplicateStudy& study) {
  const std::string text = manifest_text(study);
  const auto recorded = read_small_file(relative_path(study.outdir, kManifestName));
  if (recorded == text) return true;
  if (recorded) {
    const auto there = manifest_values(*recorded);
    const auto here = manifest_values(text);
    std::string differences;
    std::map<std::string, std::string> keys = there;
    keys.insert(here.begin(), here.end());
    for (const auto& entry : keys) {
      const std::string& key = entry.first;
      const auto value_in = [&key](const std::map<std::string, std::string>& values) {
        const auto found = values.find(key);
        return found == values.end() ? std::string("none") : found->second;
      };
      const std::string old = value_in(there);
      const std::string value = value_in(here);
      if (old == value) continue;
      differences +=
          (differences.empty() ? "" : ", ") + key + " " + old + " there, " + value + " here";
    }
    stop_usage(shown_folder(study.outdir) + " holds another study (" + differences +
               "); repeat the command that made it to complete it, or give another --outdir");
  }
  std::error_code error;
  if (!replicate_folders(study.outdir).empty() ||
      fs::exists(relative_path(study.outdir, kTableName), error)) {
    stop_usage(shown_folder(study.outdir) +
               " holds replicates that no study.tsv describes; give a new or empty folder "
               "(pedsim collect tabulates what it holds)");
  }
  write_whole_file(study.outdir, kManifestName, unit::kStudyManifest, text);
  return false;
}

RunPlan replicate_plan(const ReplicateStudy& study, std::int32_t replicate) {
  const std::string folder = replicate_folder(study.outdir, replicate);
  const auto in_folder = [&folder](const std::optional<std::string>& name) {
    return name ? std::optional(relative_path(folder, *name)) : std::nullopt;
  };
  RunPlan plan = plan_for(study.records, study.formats, study.true_genotypes,
                          study.supplied != nullptr, folder);
  plan.ask_relatedness(study.relatedness);
  plan.make_folder = true;
  plan.own_folder = true;
  plan.truth = in_folder(study.truth);
  plan.summary = in_folder(study.summary);
  plan.run_row = true;
  plan.console_copy = true;
  return plan;
}

// What one replicate gave: its line of the table, why it failed, and the
// unfinished files of a killed run it removed.
struct Outcome {
  std::string row;
  int status = 0;
  std::string diagnostic;
  std::vector<std::string> removed;
};

Outcome run_replicate(const ReplicateStudy& study, std::int32_t replicate) {
  RunFiles files(replicate_plan(study, replicate), &process_files());
  Seed seed = study.seed;
  seed.replicate = replicate;
  StringSink console;
  console.write(study.echo);
  Outcome outcome;
  try {
    files.open();
    outcome.removed =
        files.empty_outputs(seed, model_text(study.model, study.markers, study.records));
    const OutputSinks sinks = files.sinks(&console, study.quiet);
    const Simulation run =
        study.supplied
            ? simulate(*study.supplied, seed, sinks, study.model, study.markers, study.records)
            : simulate(study.parameters, seed, sinks, study.model, study.markers, study.records);
    files.finish(run, console.text);
  } catch (...) {
    const Failure failure = current_failure();
    files.failed(failure.status, console.text);
    outcome.status = failure.status;
    outcome.diagnostic = failure.text;
  }
  outcome.row = replicate_table_row(
      replicate, seed.value, outcome.status == 0 ? files.counts() : std::nullopt, outcome.status,
      model_text(study.model, study.markers, study.records), study_columns(study));
  return outcome;
}

// Replicates done so far, shown on a terminal as the study goes on (not
// with --quiet).
class StudyProgress {
 public:
  StudyProgress(int fd, std::int32_t total, bool quiet)
      : fd_(fd), total_(total), shown_(!quiet && ::isatty(fd) == 1), start_(Clock::now()) {}

  void replicate_done(std::int32_t replicate, const Outcome& outcome) {
    const std::lock_guard lock(mutex_);
    ++done_;
    report_removed(fd_, outcome.removed);
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

// Runs `replicates`, `jobs` at a time; their outcomes in the same order.
std::vector<Outcome> run_side_by_side(const ReplicateStudy& study,
                                      const std::vector<std::int32_t>& replicates, int stderr_fd) {
  const auto count = static_cast<std::int32_t>(replicates.size());
  std::vector<Outcome> outcomes(replicates.size());
  std::atomic<std::int32_t> next{0};
  StudyProgress progress(stderr_fd, count, study.quiet);
  const auto work = [&] {
    for (std::int32_t i; (i = next.fetch_add(1)) < count;) {
      const auto k = static_cast<std::size_t>(i);
      outcomes[k] = run_replicate(study, replicates[k]);
      progress.replicate_done(replicates[k], outcomes[k]);
    }
  };
  std::vector<std::thread> helpers;
  const int jobs = std::clamp(study.jobs, 1, std::max(count, 1));
  for (int k = 1; k < jobs; ++k) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer replicates side by side
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
  return outcomes;
}

void write_table(const std::string& outdir, const std::string& table) {
  const auto held = process_files().lock();
  write_whole_file(outdir, kTableName, unit::kReplicateTable, table);
}

// "3, 7, 12" (the first ten, then how many more).
std::string listed(const std::vector<std::int32_t>& replicates) {
  std::string text;
  for (std::size_t k = 0; k < replicates.size() && k < 10; ++k) {
    text += (k == 0 ? "" : ", ") + std::to_string(replicates[k]);
  }
  if (replicates.size() > 10) text += " and " + std::to_string(replicates.size() - 10) + " more";
  return text;
}

}  // namespace

std::string replicate_folder(const std::string& outdir, std::int32_t replicate) {
  char name[16];
  std::snprintf(name, sizeof name, "r%05d", replicate);
  return relative_path(outdir, name);
}

void check_study_console(const ReplicateStudy& study, int stdout_fd, int stderr_fd) {
  const std::vector<RunFile> study_files{
      {nullptr, std::string(kTableName), relative_path(study.outdir, kTableName)},
      {nullptr, std::string(kManifestName), relative_path(study.outdir, kManifestName)}};
  for (const auto& [fd, stream] :
       {std::pair{stdout_fd, "standard output"}, std::pair{stderr_fd, "standard error"}}) {
    check_not_written_by(fd, stream, study_files);
    for (std::int32_t r = study.first; r < study.first + study.count; ++r) {
      check_not_written_by(fd, stream, files_of(replicate_plan(study, r)));
    }
  }
}

int run_replicates(const ReplicateStudy& study, int stderr_fd) {
  std::error_code error;
  fs::create_directories(study.outdir, error);
  if (error) {
    stop_with_diagnostic(open_failure_code(error.value()), unit::kReplicateTable,
                         full_path(study.outdir, kTableName), error.value());
  }
  const FolderLock lock(study.outdir);
  std::vector<std::string> removed =
      remove_unfinished_files(study.outdir, {std::string(kTableName), std::string(kManifestName)});
  const bool resumed = record_study(study);
  {
    // The table is written anew at the end; until then it would describe
    // replicates that may be about to change.
    const auto held = process_files().lock();
    ::unlink(relative_path(study.outdir, kTableName).c_str());
  }
  report_removed(stderr_fd, removed);
  std::vector<std::int32_t> to_run;
  std::vector<std::optional<TableRow>> finished;
  for (std::int32_t r = study.first; r < study.first + study.count; ++r) {
    auto row = run_row_of(replicate_folder(study.outdir, r), r, study_columns(study));
    if (!row || row->status != "0" || row->seed != std::to_string(study.seed.value)) {
      row.reset();
      to_run.push_back(r);
    }
    finished.push_back(std::move(row));
  }
  if (resumed) {
    write_text(stderr_fd, "pedsim: resuming the study in " + shown_folder(study.outdir) + ": " +
                              std::to_string(study.count - static_cast<int>(to_run.size())) +
                              " of " + std::to_string(study.count) +
                              " replicates finished (their run.tsv says so), " +
                              std::to_string(to_run.size()) + " to run\n");
  }
  const std::vector<Outcome> outcomes = run_side_by_side(study, to_run, stderr_fd);
  std::string table = replicate_table_header(study_columns(study));
  int status = 0;
  auto outcome = outcomes.begin();
  for (const auto& row : finished) {
    if (row) {
      table += row->text;
      continue;
    }
    table += outcome->row;
    if (status == 0) status = outcome->status;
    ++outcome;
  }
  write_table(study.outdir, table);
  return status;
}

int collect_replicates(const CollectRequest& request, int stderr_fd) {
  if (request.outdir.empty()) stop_usage("collect: the folder's name is empty");
  const FolderLock lock(request.outdir);
  const auto manifest = read_small_file(relative_path(request.outdir, kManifestName));
  const auto study = manifest_values(manifest.value_or(""));
  std::string seed = "NA";
  std::string model = "NA";
  std::int32_t first = request.first.value_or(0);
  std::optional<std::int32_t> count = request.count;
  if (manifest) {
    const auto value = [&study](const std::string& key) {
      const auto found = study.find(key);
      return found == study.end() ? std::string() : found->second;
    };
    seed = value("seed").empty() ? "NA" : value("seed");
    model = value("model").empty() ? "NA" : value("model");
    const auto recorded_first = parse_int32(value("first_replicate"));
    const auto recorded_count = parse_int32(value("replicates"));
    if (!recorded_first || !recorded_count) {
      stop_usage("collect: " + full_path(request.outdir, kManifestName) +
                 " lacks first_replicate or replicates");
    }
    if ((request.first && *request.first != *recorded_first) ||
        (request.count && *request.count != *recorded_count)) {
      stop_usage("collect: the study in " + shown_folder(request.outdir) + " has replicates " +
                 std::to_string(*recorded_first) + " to " +
                 std::to_string(*recorded_first + *recorded_count - 1) +
                 "; --replicate and --replicates must agree or be left out");
    }
    first = *recorded_first;
    count = recorded_count;
  } else if (!count) {
    const auto found = replicate_folders(request.outdir);
    if (found.empty()) {
      write_text(stderr_fd, "pedsim: collect: " + shown_folder(request.outdir) +
                                " holds no replicate folders (r00000 to r99999) and no "
                                "study.tsv; nothing collected\n");
      return 1;
    }
    first = found.front();
    count = found.back() - found.front() + 1;
  }
  std::map<std::int32_t, TableRow> earlier;
  const std::string old_table =
      read_small_file(relative_path(request.outdir, kTableName)).value_or("");
  for (const std::string_view line : split(old_table, '\n')) {
    if (auto row = parse_row(line)) earlier[row->replicate] = *row;
  }
  // The columns its model's text tells; without study.tsv, the widest that
  // a replicate's run.tsv has.
  TableColumns columns = table_columns(model);
  columns.relatedness = manifest && manifest_values(*manifest).contains("ibd");
  if (!manifest) columns = widest_columns(request.outdir, first, *count, columns);
  std::string table = replicate_table_header(columns);
  std::vector<std::int32_t> missing;
  std::vector<std::int32_t> failed;
  for (std::int32_t r = first; r < first + *count; ++r) {
    auto row = run_row_of(replicate_folder(request.outdir, r), r, columns);
    // A replicate that failed before its folder could hold run.tsv keeps the
    // line the study gave it.
    const auto old = earlier.find(r);
    if (!row && old != earlier.end() && old->second.status != "0" && old->second.status != "NA") {
      row = old->second;
    }
    if (!row) {
      missing.push_back(r);
      table += na_table_row(r, seed, model, columns);
      continue;
    }
    if (row->status != "0") failed.push_back(r);
    table += row->text;
  }
  write_table(request.outdir, table);
  std::string message = "pedsim: collected " + std::to_string(*count) + " replicates into " +
                        full_path(request.outdir, kTableName);
  if (!missing.empty()) message += "; missing (no run.tsv): " + listed(missing);
  if (!failed.empty()) message += "; failed: " + listed(failed);
  write_text(stderr_fd, message + "\n");
  return missing.empty() && failed.empty() ? 0 : 1;
}

}  // namespace pedsim
