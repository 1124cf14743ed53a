#include "command_line.hpp"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <csignal>
#include <filesystem>
#include <new>
#include <utility>

#include "io/diagnostic.hpp"
#include "io/output_file.hpp"
#include "io/records.hpp"
#include "io/report_file.hpp"
#include "io/reports.hpp"
#include "pedsim/pedsim.hpp"

namespace pedsim {

namespace {

constexpr std::string_view kSynopsis =
    "usage: pedsim [--seed T] [--truth FILE] [--summary FILE] NGEN N MALE";

constexpr std::string_view kUsage =
    "usage: pedsim [--seed T] [--truth FILE] [--summary FILE] NGEN N MALE\n"
    "       pedsim --help | --version\n"
    "\n"
    "Breeds N founders (the first MALE of them male) and NGEN overlapping\n"
    "generations by random mating, passing one three-allele marker by Mendelian\n"
    "inheritance; then removes recorded genotypes at an age-dependent rate and\n"
    "injects genotyping errors into animals whose parents are both ungenotyped.\n"
    "\n"
    "Writes, in the working directory (replacing existing files once the\n"
    "arguments are known good):\n"
    "  ped.pre     animal, sire, dam, sex, recorded allele 1, recorded allele 2\n"
    "  ped.errors  animal, recorded allele 1 before the injected error\n"
    "\n"
    "Options, before or after the numbers (\"--\" ends them; they only add files,\n"
    "the run stays the same):\n"
    "  --seed T        seed the random stream with T, as PEDSIM_SEED=T does\n"
    "  --truth FILE    per animal: animal, sire, dam, sex, generation, true alleles,\n"
    "                  lost flag, recorded alleles, altered flag (unit 3)\n"
    "  --summary FILE  a short report of the run, its seed included (unit 4)\n"
    "A report is written complete or not at all; a run that fails once it has\n"
    "replaced ped.pre also removes an earlier report of the same name.\n"
    "\n"
    "Environment:\n"
    "  PEDSIM_SEED  a 32-bit integer used as the clock sum that seeds the random\n"
    "               stream; with it set, a run is a pure function of its arguments\n"
    "\n"
    "Exit status: 0 success; 2 a usage error (an unknown option, arguments outside\n"
    "the limits, an invalid seed, a report naming an output, another run writing\n"
    "in this folder); 24, 59, 64 an argument missing or not an integer; 9, 10, 29,\n"
    "30, 42, 43 a file that cannot be created; 38 a failed write; 41, 179 not\n"
    "enough memory or a table too large; 70 an internal error; 130, 143\n"
    "interrupted (SIGINT, SIGTERM).\n";

constexpr int kInternalError = 70;

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool ends_value(char c) { return is_blank(c) || c == ',' || c == '/'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Characters that can appear in the text of a number of any kind.
bool is_number_character(char c) {
  return is_digit(c) || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E' || c == 'd' ||
         c == 'D' || c == 'q' || c == 'Q';
}

// Classifies the text of one value: an integer, a number that is not a 32-bit
// integer (a fraction, an exponent, a value out of range, infinity or NaN:
// code 64), or text that cannot be a number (code 59).
ArgumentRead read_value(std::string_view token) {
  std::size_t start = 0;
  if (token[0] == '+' || token[0] == '-') start = 1;
  const std::string_view body = token.substr(start);
  if (!body.empty() && (body[0] == 'i' || body[0] == 'I' || body[0] == 'n' || body[0] == 'N')) {
    return {code::kConversionError, 0};
  }
  bool all_digits = !body.empty();
  for (char c : body) all_digits = all_digits && is_digit(c);
  if (all_digits) {
    if (auto value = parse_int32(token)) return {0, *value};
    return {code::kConversionError, 0};
  }
  for (char c : token) {
    if (!is_number_character(c)) return {code::kSyntaxError, 0};
  }
  return {code::kConversionError, 0};
}

// What an interrupted run must tidy up, kept where a signal handler can read
// it: the reports being written, and the earlier reports of the same names,
// which describe results that no longer exist once ped.pre has been emptied.
struct InterruptCleanup {
  static constexpr std::size_t kPathBytes = 4096;
  char new_reports[2][kPathBytes] = {};
  char earlier_reports[2][kPathBytes] = {};
  volatile std::sig_atomic_t outputs_emptied = 0;
  int stderr_fd = STDERR_FILENO;
};

// The command line owns the process, and a signal handler has nowhere else to
// look; the library keeps no such state.
InterruptCleanup interrupt_cleanup;

void remember_path(char (&slot)[InterruptCleanup::kPathBytes], const std::string& path) {
  if (path.size() < InterruptCleanup::kPathBytes) path.copy(slot, path.size());
}

extern "C" void on_interrupt(int signal_number) {
  InterruptCleanup& c = interrupt_cleanup;
  for (const char* path : c.new_reports) {
    if (path[0] != '\0') ::unlink(path);
  }
  if (c.outputs_emptied != 0) {
    for (const char* path : c.earlier_reports) {
      if (path[0] != '\0') ::unlink(path);
    }
  }
  const std::string_view text = c.outputs_emptied != 0
                                    ? "pedsim: interrupted; ped.pre and ped.errors are incomplete\n"
                                    : "pedsim: interrupted\n";
  [[maybe_unused]] const ssize_t written = ::write(c.stderr_fd, text.data(), text.size());
  ::_exit(128 + signal_number);
}

void handle_interrupts(int stderr_fd) {
  interrupt_cleanup.outputs_emptied = 0;
  interrupt_cleanup.stderr_fd = stderr_fd;
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  ::sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

// The files a run writes.
struct RunFiles {
  OutputFile pre;
  OutputFile errors;
  ReportFile truth;
  ReportFile summary;
  bool outputs_emptied = false;

  // A run that stops: reports of this run never stay, nor do earlier ones
  // once the outputs they describe are gone.
  void discard_reports() noexcept {
    truth.discard(outputs_emptied);
    summary.discard(outputs_emptied);
  }
};

void write_text(int fd, std::string_view text) { Console(fd).write(text); }

struct NumberArgument {
  std::string_view name;
  std::string_view ordinal;
  std::string_view label;
};
constexpr std::array<NumberArgument, 3> kNumbers{
    {{"NGEN", "first", "ngen="}, {"N", "second", "n="}, {"MALE", "third", "male="}}};

// The plain line that follows the designed diagnostic of an argument that
// cannot be read.
std::string explain_argument(std::size_t k, std::span<const std::string_view> numbers,
                             int read_code) {
  if (numbers.empty()) return std::string(kSynopsis) + " (see pedsim --help)";
  const NumberArgument& a = kNumbers[k];
  const std::string subject =
      "the " + std::string(a.ordinal) + " argument, " + std::string(a.name) + ", ";
  if (k >= numbers.size()) return subject + "is missing; expected an integer";
  const std::string given = "is '" + std::string(numbers[k]) + "'";
  if (read_code == code::kEndOfFile) return subject + "is blank; expected an integer";
  if (read_code == code::kSyntaxError)
    return subject + given + ", not a number; expected an integer";
  return subject + given +
         ", not a 32-bit integer; expected a whole number from -2147483648 to 2147483647";
}

// Reads the three numbers, echoing each to the console as it is read.
std::array<std::int32_t, 3> read_numbers(std::span<const std::string_view> numbers,
                                         ByteSink& console) {
  std::array<std::int32_t, 3> values{};
  for (std::size_t k = 0; k < kNumbers.size(); ++k) {
    const std::string_view argument = k < numbers.size() ? numbers[k] : std::string_view{};
    const ArgumentRead read = read_integer_argument(argument);
    if (read.code != 0) {
      throw Stop(read.code, severe_text(read.code, unit::kArgument, kArgumentFileName, 0) +
                                "pedsim: " + explain_argument(k, numbers, read.code) + "\n");
    }
    values[k] = read.value;
    console.write(console_line_label_int(kNumbers[k].label, read.value));
  }
  return values;
}

Seed seed_of(const CommandLine& line, const std::optional<std::string>& seed_variable) {
  if (!line.seed && !seed_variable) return Seed::from_clocks();
  const std::string& text = line.seed ? *line.seed : *seed_variable;
  const std::string origin = line.seed ? "--seed" : "PEDSIM_SEED";
  const auto value = parse_int32(text);
  if (!value) {
    stop_usage(origin + " must be a decimal 32-bit signed integer, got '" + text + "'");
  }
  return {*value, origin};
}

// Whether two paths name one file: the same device and inode where both
// exist, else the same path once resolved.
bool same_file(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  if (::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0) {
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  }
  std::error_code ignored;
  return std::filesystem::weakly_canonical(std::filesystem::absolute(a, ignored), ignored) ==
         std::filesystem::weakly_canonical(std::filesystem::absolute(b, ignored), ignored);
}

// A report must not overwrite the outputs of its own run or the other report.
void check_report_paths(const CommandLine& line) {
  struct Named {
    std::string what;
    std::string path;
  };
  std::vector<Named> taken{{"ped.pre", "ped.pre"}, {"ped.errors", "ped.errors"}};
  for (const auto& [option, path] :
       {std::pair{"--truth", &line.truth_path}, std::pair{"--summary", &line.summary_path}}) {
    if (!*path) continue;
    const std::string target = relative_path(".", **path);
    for (const Named& other : taken) {
      if (same_file(target, other.path)) {
        stop_usage(std::string(option) + " " + **path + " names the same file as " + other.what +
                   "; give the report a file of its own");
      }
    }
    taken.push_back({std::string(option) + " " + **path, target});
  }
}

// Only one run at a time may write the outputs of a folder: the lock on
// ped.pre lasts until the process ends.
void lock_outputs(const OutputFile& pre) {
  if (::flock(pre.descriptor(), LOCK_EX | LOCK_NB) == 0) return;
  stop_usage("another pedsim run is writing " + pre.path() +
             "; wait for it to end, or run in another folder");
}

void create_report(ReportFile& report, const std::optional<std::string>& name, int unit,
                   std::size_t slot) {
  if (!name) return;
  report.create(".", *name, unit);
  remember_path(interrupt_cleanup.new_reports[slot], report.new_path());
  remember_path(interrupt_cleanup.earlier_reports[slot], report.target_path());
}

int run_simulation(const CommandLine& line, const std::optional<std::string>& seed_variable,
                   RunFiles& files, ByteSink& console) {
  check_report_paths(line);
  // The outputs exist from the start, as designed, but keep what they hold
  // until the arguments are known good.
  files.pre.open(".", kPedPreName, unit::kPedPre, OutputFile::Existing::kKeep);
  files.errors.open(".", kPedErrorsName, unit::kPedErrors, OutputFile::Existing::kKeep);
  create_report(files.truth, line.truth_path, unit::kTruth, 0);
  create_report(files.summary, line.summary_path, unit::kSummary, 1);
  const auto [generations, founders, males] = read_numbers(line.numbers, console);
  // The seed is checked before the numbers are checked against each other.
  const Seed seed = seed_of(line, seed_variable);
  const Parameters parameters = Parameters::make(generations, founders, males);
  lock_outputs(files.pre);
  files.pre.truncate();
  files.errors.truncate();
  files.outputs_emptied = true;
  interrupt_cleanup.outputs_emptied = 1;
  const Simulation run = simulate(
      parameters, seed, {.console = &console, .pedigree = &files.pre, .errors = &files.errors});
  files.pre.close();
  files.errors.close();
  if (files.truth.is_open()) {
    write_truth(run, files.truth);
    files.truth.commit();
  }
  if (files.summary.is_open()) {
    write_summary(run, files.summary);
    files.summary.commit();
  }
  return 0;
}

}  // namespace

std::optional<std::int32_t> parse_int32(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty() || text[0] == '+') return std::nullopt;
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

ArgumentRead read_integer_argument(std::string_view argument) {
  std::array<char, kInputWidth> input;
  input.fill(' ');
  argument.copy(input.data(), kInputWidth);
  std::size_t i = 0;
  while (i < kInputWidth && is_blank(input[i])) ++i;
  if (i == kInputWidth) return {code::kEndOfFile, 0};
  if (input[i] == ',' || input[i] == '/') return {code::kSyntaxError, 0};
  std::size_t end = i;
  while (end < kInputWidth && !ends_value(input[end])) ++end;
  return read_value(std::string_view(input.data() + i, end - i));
}

CommandLine parse_command_line(std::span<const std::string_view> args) {
  CommandLine line;
  const auto end_of_options = std::find(args.begin(), args.end(), "--");
  const std::span<const std::string_view> options(args.begin(), end_of_options);
  if (!args.empty() && args[0] == "-h") line.help = true;
  for (const std::string_view arg : options) {
    line.help = line.help || arg == "--help";
    line.version = line.version || arg == "--version";
  }
  if (line.help || line.version) return line;
  for (std::size_t k = 0; k < options.size(); ++k) {
    const std::string_view arg = options[k];
    if (!arg.starts_with("--")) {
      line.numbers.push_back(arg);
      continue;
    }
    // --name VALUE or --name=VALUE
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    std::optional<std::string>* value = nullptr;
    if (name == "--seed") value = &line.seed;
    if (name == "--truth") value = &line.truth_path;
    if (name == "--summary") value = &line.summary_path;
    if (value == nullptr) stop_usage("unknown option '" + std::string(name) + "' (see --help)");
    if (equals != std::string_view::npos) {
      *value = std::string(arg.substr(equals + 1));
    } else if (k + 1 < options.size()) {
      *value = std::string(options[++k]);
    } else {
      stop_usage("option " + std::string(name) + " needs a value");
    }
  }
  if (end_of_options != args.end())
    line.numbers.insert(line.numbers.end(), end_of_options + 1, args.end());
  if (line.seed && !parse_int32(*line.seed)) {
    stop_usage("--seed must be a decimal 32-bit signed integer, got '" + *line.seed + "'");
  }
  return line;
}

int run_command_line(std::span<const std::string_view> args,
                     const std::optional<std::string>& seed_variable, int stdout_fd,
                     int stderr_fd) {
  CommandLine line;
  try {
    line = parse_command_line(args);
  } catch (const Stop& stop) {
    write_text(stderr_fd, stop.text());
    return stop.status();
  }
  if (line.help) {
    write_text(stdout_fd, kUsage);
    return 0;
  }
  if (line.version) {
    write_text(stdout_fd, "pedsim " PEDSIM_VERSION "\n");
    return 0;
  }
  handle_interrupts(stderr_fd);
  Console console(stdout_fd);
  RunFiles files;
  const auto stop = [&files, stderr_fd](int status, const std::string& text) {
    files.discard_reports();
    write_text(stderr_fd, text);
    return status;
  };
  try {
    return run_simulation(line, seed_variable, files, console);
  } catch (const Stop& failure) {
    return stop(failure.status(), failure.text());
  } catch (const InvalidParameters& invalid) {
    return stop(code::kUsage, "pedsim: " + std::string(invalid.what()) + "\n");
  } catch (const TableTooLarge&) {
    return stop(code::kSizeOverflow, severe_text(code::kSizeOverflow, 0, {}, 0));
  } catch (const std::bad_alloc&) {
    return stop(code::kNoMemory, severe_text(code::kNoMemory, 0, {}, 0));
  } catch (const std::exception& error) {
    // Not expected in a run; still a stop with a message, never an abort.
    return stop(kInternalError, std::string("pedsim: internal error: ") + error.what() + "\n");
  }
}

}  // namespace pedsim
