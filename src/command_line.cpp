#include "command_line.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <new>
#include <thread>
#include <utility>

#include "io/diagnostic.hpp"
#include "io/output_file.hpp"
#include "io/records.hpp"
#include "pedsim/pedsim.hpp"
#include "replicates.hpp"
#include "run_folder.hpp"

namespace pedsim {

namespace {

constexpr std::string_view kSynopsis =
    "usage: pedsim [--seed T] [--truth FILE] [--summary FILE] NGEN N MALE";

constexpr std::string_view kUsage =
    "usage: pedsim [--seed T] [--truth FILE] [--summary FILE] NGEN N MALE\n"
    "       pedsim [--replicate R] [--outdir DIR] [...] NGEN N MALE\n"
    "       pedsim --replicates K --outdir DIR [--replicate R0] [--jobs N] [...] NGEN N MALE\n"
    "       pedsim collect DIR\n"
    "       pedsim --help | --version\n"
    "\n"
    "Breeds N founders (the first MALE of them male) and NGEN overlapping\n"
    "generations by random mating, passing one three-allele marker by Mendelian\n"
    "inheritance; then removes recorded genotypes at an age-dependent rate and\n"
    "injects genotyping errors into animals whose parents are both ungenotyped.\n"
    "\n"
    "Writes, in the working directory or DIR (replacing existing files once the\n"
    "arguments are known good):\n"
    "  ped.pre     animal, sire, dam, sex, recorded allele 1, recorded allele 2\n"
    "  ped.errors  animal, recorded allele 1 before the injected error\n"
    "\n"
    "Options, before or after the numbers (\"--\" ends them; they never change the\n"
    "bytes of a run, except --replicate):\n"
    "  --seed T        seed the random stream with T, as PEDSIM_SEED=T does\n"
    "  --replicate R   replicate R (0 to 99999) of the seed: its stream jumped ahead\n"
    "                  by R x 2^44 numbers; 0 is the seeded stream itself\n"
    "  --outdir DIR    write ped.pre, ped.errors and run.tsv (the run's line of a\n"
    "                  replicate table) in DIR, made if missing\n"
    "  --replicates K  run replicates R0 to R0+K-1 side by side, each in DIR/rNNNNN\n"
    "                  with its console.txt; DIR/replicates.tsv tabulates them\n"
    "  --jobs N        replicates run at once (default: the number of cores)\n"
    "  --truth FILE    per animal: animal, sire, dam, sex, generation, true alleles,\n"
    "                  lost flag, recorded alleles, altered flag (unit 3)\n"
    "  --summary FILE  a short report of the run, its seed included (unit 4)\n"
    "A report is written complete or not at all; a run that fails once it has\n"
    "replaced ped.pre also removes an earlier report of the same name. With\n"
    "--replicates, reports are plain names written in each replicate's folder.\n"
    "\n"
    "pedsim collect DIR rebuilds DIR/replicates.tsv from the rNNNNN folders of\n"
    "DIR, however they were made.\n"
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
    "interrupted (SIGINT, SIGTERM). With --replicates, the status of the first\n"
    "replicate that failed; collect: 1 when a replicate failed or is missing.\n";

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

void write_text(int fd, std::string_view text) { Console(fd).write(text); }

struct NumberArgument {
  std::string_view name;
  std::string_view ordinal;
  std::string_view label;
};
constexpr std::array<NumberArgument, 3> kNumbers{
    {{"NGEN", "first", "ngen="}, {"N", "second", "n="}, {"MALE", "third", "male="}}};

// The plain line that follows the diagnostic of an argument that
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
  if (read_code == code::kSyntaxError) {
    return subject + given + ", not a number; expected an integer";
  }
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

// The run's parameters and seed, from the numbers (echoed to `console`) and
// the seed's option or variable; the seed is checked before the numbers are
// checked against each other.
std::pair<Parameters, Seed> read_run(const CommandLine& line,
                                     const std::optional<std::string>& seed_variable,
                                     ByteSink& console) {
  const auto [generations, founders, males] = read_numbers(line.numbers, console);
  Seed seed = Seed::from_clocks();
  if (line.seed || seed_variable) {
    const std::string& text = line.seed ? *line.seed : *seed_variable;
    const std::string origin = line.seed ? "--seed" : "PEDSIM_SEED";
    const auto value = parse_int32(text);
    if (!value) {
      stop_usage(origin + " must be a decimal 32-bit signed integer, got '" + text + "'");
    }
    seed = {*value, origin};
  }
  seed.replicate = line.replicate;
  return {Parameters::make(generations, founders, males), seed};
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
void check_report_paths(const CommandLine& line, const std::string& folder) {
  struct Named {
    std::string what;
    std::string path;
  };
  std::vector<Named> taken{{"ped.pre", relative_path(folder, kPedPreName)},
                           {"ped.errors", relative_path(folder, kPedErrorsName)}};
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

// One run: outputs in the working directory or --outdir, reports where they
// are named.
int run_once(const CommandLine& line, const std::optional<std::string>& seed_variable,
             ByteSink& console, int stderr_fd) {
  RunPlan plan{.truth = line.truth_path, .summary = line.summary_path};
  if (line.outdir) plan = {*line.outdir, true, line.truth_path, line.summary_path, true};
  check_report_paths(line, plan.folder);
  handle_interrupts(stderr_fd, "ped.pre and ped.errors");
  RunFolder files(plan, 0);
  try {
    // The outputs exist from the start, created if missing, but keep what they hold
    // until the arguments are known good.
    files.open();
    const auto [parameters, seed] = read_run(line, seed_variable, console);
    files.empty_outputs();
    const Simulation run = files.run(parameters, seed, console);
    if (run.numbers_drawn > kReplicateStride) {
      write_text(stderr_fd, "pedsim: warning: this run drew " + std::to_string(run.numbers_drawn) +
                                " numbers, more than the 2^44 between the streams of two "
                                "replicates; replicates of its seed share numbers\n");
    }
    return 0;
  } catch (...) {
    const Failure failure = current_failure();
    files.failed(failure.status);
    write_text(stderr_fd, failure.text);
    return failure.status;
  }
}

// Replicates R0..R0+K-1 side by side, each in its folder of --outdir.
int run_study(const CommandLine& line, const std::optional<std::string>& seed_variable,
              ByteSink& console, int stderr_fd) {
  try {
    for (const auto& [option, name] :
         {std::pair{"--truth", &line.truth_path}, std::pair{"--summary", &line.summary_path}}) {
      if (*name && (*name)->find('/') != std::string::npos) {
        stop_usage(std::string("with --replicates, ") + option +
                   " takes a plain file name, written in each replicate's folder");
      }
    }
    StringSink echo;
    const auto [parameters, seed] = read_run(line, seed_variable, echo);
    console.write(echo.text);
    handle_interrupts(stderr_fd, "the replicates being written");
    const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
    return run_replicates({.parameters = parameters,
                           .seed = seed,
                           .outdir = *line.outdir,
                           .first = line.replicate,
                           .count = *line.replicates,
                           .jobs = line.jobs.value_or(static_cast<int>(cores)),
                           .truth = line.truth_path,
                           .summary = line.summary_path,
                           .echo = echo.text},
                          stderr_fd);
  } catch (...) {
    const Failure failure = current_failure();
    write_text(stderr_fd, failure.text);
    return failure.status;
  }
}

// An option's integer value within [low, high], else a usage error.
std::int32_t option_integer(std::string_view option, const std::string& text, std::int32_t low,
                            std::int32_t high) {
  const auto value = parse_int32(text);
  if (!value || *value < low || *value > high) {
    stop_usage(std::string(option) + " must be an integer from " + std::to_string(low) + " to " +
               std::to_string(high) + ", got '" + text + "'");
  }
  return *value;
}

// Checks the options against each other and converts their values.
void check_options(CommandLine& line, const std::optional<std::string>& replicate,
                   const std::optional<std::string>& replicates,
                   const std::optional<std::string>& jobs) {
  if (line.seed && !parse_int32(*line.seed)) {
    stop_usage("--seed must be a decimal 32-bit signed integer, got '" + *line.seed + "'");
  }
  if (replicate) line.replicate = option_integer("--replicate", *replicate, 0, kMaxReplicate);
  if (replicates) {
    line.replicates =
        option_integer("--replicates", *replicates, 1, kMaxReplicate + 1 - line.replicate);
    if (!line.outdir) stop_usage("--replicates needs --outdir DIR, the folder of the study");
  }
  if (jobs) {
    if (!replicates) stop_usage("--jobs goes with --replicates");
    line.jobs = option_integer("--jobs", *jobs, 1, 1024);
  }
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
  std::optional<std::string> replicate;
  std::optional<std::string> replicates;
  std::optional<std::string> jobs;
  const std::array<std::pair<std::string_view, std::optional<std::string>*>, 7> kValued{
      {{"--seed", &line.seed},
       {"--truth", &line.truth_path},
       {"--summary", &line.summary_path},
       {"--outdir", &line.outdir},
       {"--replicate", &replicate},
       {"--replicates", &replicates},
       {"--jobs", &jobs}}};
  for (std::size_t k = 0; k < options.size(); ++k) {
    const std::string_view arg = options[k];
    if (!arg.starts_with("--")) {
      line.numbers.push_back(arg);
      continue;
    }
    // --name VALUE or --name=VALUE
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    const auto known = std::find_if(kValued.begin(), kValued.end(),
                                    [name](const auto& option) { return option.first == name; });
    if (known == kValued.end()) {
      stop_usage("unknown option '" + std::string(name) + "' (see --help)");
    }
    if (equals != std::string_view::npos) {
      *known->second = std::string(arg.substr(equals + 1));
    } else if (k + 1 < options.size()) {
      *known->second = std::string(options[++k]);
    } else {
      stop_usage("option " + std::string(name) + " needs a value");
    }
  }
  if (end_of_options != args.end()) {
    line.numbers.insert(line.numbers.end(), end_of_options + 1, args.end());
  }
  if (!line.numbers.empty() && line.numbers[0] == "collect") {
    if (line.numbers.size() != 2) stop_usage("usage: pedsim collect DIR");
    line.collect = std::string(line.numbers[1]);
    return line;
  }
  check_options(line, replicate, replicates, jobs);
  return line;
}

int run_command_line(std::span<const std::string_view> args,
                     const std::optional<std::string>& seed_variable, int stdout_fd,
                     int stderr_fd) {
  try {
    const CommandLine line = parse_command_line(args);
    if (line.help) {
      write_text(stdout_fd, kUsage);
      return 0;
    }
    if (line.version) {
      write_text(stdout_fd, "pedsim " PEDSIM_VERSION "\n");
      return 0;
    }
    if (line.collect) return collect_replicates(*line.collect, stderr_fd);
    Console console(stdout_fd);
    if (line.replicates) return run_study(line, seed_variable, console, stderr_fd);
    return run_once(line, seed_variable, console, stderr_fd);
  } catch (...) {
    const Failure failure = current_failure();
    write_text(stderr_fd, failure.text);
    return failure.status;
  }
}

}  // namespace pedsim
