#include "cli/command_line.hpp"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <thread>
#include <tuple>
#include <utility>

#include "cli/process.hpp"
#include "cli/progress_line.hpp"
#include "cli/studies.hpp"
#include "pedsim/merge.hpp"
#include "pedsim/pedsim.hpp"
#include "text/text.hpp"

namespace pedsim {

namespace {

constexpr std::string_view kSynopsis =
    "usage: pedsim [--seed T] [--truth FILE] [--summary FILE] NGEN N MALE";

constexpr std::string_view kUsageBeforeOptions =
    "usage: pedsim [--seed T] [--truth FILE] [--summary FILE] [--quiet] NGEN N MALE\n"
    "       pedsim [--replicate R] [--outdir DIR] [...] NGEN N MALE\n"
    "       pedsim --replicates K --outdir DIR [--replicate R0] [--jobs N] [...] NGEN N MALE\n"
    "       pedsim --pedigree FILE [--pedigree-format F] [--genotyped FILE] [...]\n"
    "       pedsim collect [--replicates K [--replicate R0]] DIR\n"
    "       pedsim merge --outdir DIR [--compression-level L] PART...\n"
    "       pedsim --help | -h | --version\n"
    "\n"
    "Breeds N founders (the first MALE of them male) and NGEN overlapping\n"
    "generations by random mating, passing one three-allele marker (or a panel of\n"
    "--markers) by Mendelian inheritance; then removes recorded genotypes at an\n"
    "age-dependent rate and injects genotyping errors into animals whose parents\n"
    "are both ungenotyped. A panel, or markers dropped onto a --pedigree, keep\n"
    "every record without errors unless the error and missing-data options ask.\n"
    "\n"
    "Writes, in the working directory or DIR (replacing existing files once the\n"
    "arguments are known good):\n"
    "  ped.pre     animal, sire, dam, sex, recorded allele 1, recorded allele 2\n"
    "              (of each marker, with a panel)\n"
    "  ped.errors  animal, recorded allele 1 before the injected error (and the\n"
    "              marker's name, with a panel)\n"
    "\n"
    "Options, before or after the numbers (\"--\" ends them; they never change the\n"
    "bytes of a run, except --replicate and the marker, error and missing-data\n"
    "options, which never change the pedigree):\n";

constexpr std::string_view kUsageAfterOptions =
    "A report, run.tsv, console.txt and replicates.tsv are written complete or not\n"
    "at all; a run that fails once it has replaced ped.pre also removes an earlier\n"
    "report of the same name. With --replicates, reports are plain names written\n"
    "in each replicate's folder.\n"
    "\n"
    "pedsim collect DIR rebuilds DIR/replicates.tsv from the rNNNNN folders of\n"
    "DIR, however they were made: the replicates of DIR/study.tsv, else R0 to\n"
    "R0+K-1 when given, else those from the lowest folder to the highest.\n"
    "\n"
    "pedsim merge --outdir DIR PART... joins the folders of the parts of a run\n"
    "split by --only-chromosomes, in the map's order: DIR then holds the whole\n"
    "run's genotype files, byte for byte, and the files the parts share.\n"
    "\n"
    "Environment:\n"
    "  PEDSIM_SEED  a 32-bit integer used as the clock sum that seeds the random\n"
    "               stream; with it set, a run is a pure function of its arguments\n"
    "\n"
    "Exit status: 0 success; 2 a usage error (an unknown option, arguments outside\n"
    "the limits, an invalid seed, two names of one file, a console sent to a file\n"
    "of the run, another run writing in this folder, a folder holding another\n"
    "study, a pedigree, genotyped or marker file or an error matrix that cannot be\n"
    "read or used); 24, 59, 64 an argument missing or not an integer; 9, 10, 29, 30, 42,\n"
    "43 a file that cannot be created; 38 a failed write; 41, 179 not enough\n"
    "memory or a table too large; 70 an internal error; 130, 143 interrupted\n"
    "(SIGINT, SIGTERM). With --replicates, the status of the first replicate that\n"
    "failed; collect: 1 when a replicate failed or is missing.\n";

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

struct NumberArgument {
  std::string_view name;
  std::string_view ordinal;
  std::string_view label;
};
constexpr std::array<NumberArgument, 3> kNumbers{
    {{"NGEN", "first", "ngen="}, {"N", "second", "n="}, {"MALE", "third", "male="}}};

// The plain line that follows the diagnostic of an argument that
// cannot be read.
std::string explain_argument(std::size_t k, const CommandLine& line, int read_code) {
  const auto& numbers = line.numbers;
  if (numbers.empty() && line.numeric_option_value.empty()) {
    return std::string(kSynopsis) + " (see pedsim --help)";
  }
  const NumberArgument& a = kNumbers[k];
  const std::string subject =
      "the " + std::string(a.ordinal) + " argument, " + std::string(a.name) + ", ";
  if (k >= numbers.size()) {
    return subject + "is missing; expected an integer" +
           (line.numeric_option_value.empty()
                ? ""
                : " (" + line.numeric_option_value + " as its value)");
  }
  const std::string given = "is '" + std::string(numbers[k]) + "'";
  if (read_code == code::kEndOfFile) return subject + "is blank; expected an integer";
  if (read_code == code::kSyntaxError) {
    return subject + given + ", not a number; expected an integer";
  }
  return subject + given +
         ", not a 32-bit integer; expected a whole number from -2147483648 to 2147483647";
}

// Reads the three numbers, echoing each to the console as it is read.
std::array<std::int32_t, 3> read_numbers(const CommandLine& line, ByteSink& console) {
  std::array<std::int32_t, 3> values{};
  for (std::size_t k = 0; k < kNumbers.size(); ++k) {
    const std::string_view argument =
        k < line.numbers.size() ? line.numbers[k] : std::string_view{};
    const ArgumentRead read = read_integer_argument(argument);
    if (read.code != 0) {
      throw Stop(read.code, severe_text(read.code, unit::kArgument, kArgumentFileName, 0) +
                                "pedsim: " + explain_argument(k, line, read.code) + "\n");
    }
    values[k] = read.value;
    console.write(console_line_label_int(kNumbers[k].label, read.value));
  }
  return values;
}

// The run's seed, from its option or variable.
Seed read_seed(const CommandLine& line, const std::optional<std::string>& seed_variable) {
  Seed seed = Seed::from_clocks();
  if (line.settings.seed) {
    seed = {*line.settings.seed, "--seed"};
  } else if (seed_variable) {
    const auto value = parse_int32(*seed_variable);
    if (!value) {
      stop_usage("PEDSIM_SEED must be a decimal 32-bit signed integer, got '" + *seed_variable +
                 "'");
    }
    seed = {*value, "PEDSIM_SEED"};
  }
  seed.replicate = line.settings.replicate;
  return seed;
}

// The run's parameters and seed, from the numbers (echoed to `console`) and
// the seed's option or variable; the seed is checked before the numbers are
// checked against each other.
std::pair<Parameters, Seed> read_run(const CommandLine& line,
                                     const std::optional<std::string>& seed_variable,
                                     ByteSink& console) {
  const auto [generations, founders, males] = read_numbers(line, console);
  const Seed seed = read_seed(line, seed_variable);
  return {Parameters::make(generations, founders, males), seed};
}

// A run's simulation, once its arguments are known good: on the supplied
// pedigree, or on one bred from the numbers.
struct RunArguments {
  std::optional<Parameters> parameters;
  std::optional<SuppliedPedigree> supplied;
  Seed seed;

  std::int64_t animals() const { return supplied ? supplied->animals() : parameters->rows; }

  Simulation simulate(const OutputSinks& sinks, const Settings& s) const {
    if (supplied) return pedsim::simulate(*supplied, seed, sinks, s.model, s.markers, s.records);
    return pedsim::simulate(*parameters, seed, sinks, s.model, s.markers, s.records);
  }
};

RunArguments read_arguments(const CommandLine& line,
                            const std::optional<std::string>& seed_variable, ByteSink& console,
                            int stderr_fd) {
  const Settings& settings = line.settings;
  RunArguments arguments;
  if (settings.pedigree) {
    if (!line.numbers.empty()) {
      stop_usage("--pedigree takes the place of NGEN N MALE; give one or the other");
    }
    arguments.seed = read_seed(line, seed_variable);
    arguments.supplied = read_pedigree(*settings.pedigree, settings.pedigree_format);
    if (settings.genotyped) read_genotyped(*settings.genotyped, *arguments.supplied);
    write_text(stderr_fd, reading_notes(*arguments.supplied, *settings.pedigree));
  } else {
    std::tie(arguments.parameters, arguments.seed) = read_run(line, seed_variable, console);
  }
  settings.markers.validate();
  settings.records.validate(settings.markers);
  settings.formats.check(settings.markers, settings.records);
  check_panel_fits(arguments.animals(), settings.markers, settings.records);
  return arguments;
}

// The free bytes of the disk that holds `folder`, or of the working
// directory's while the folder is still to be made.
double free_disk_bytes(const std::optional<std::string>& folder) {
  struct statvfs disk {};
  if ((!folder || ::statvfs(folder->c_str(), &disk) != 0) && ::statvfs(".", &disk) != 0) {
    return 0;
  }
  return static_cast<double>(disk.f_bavail) * static_cast<double>(disk.f_frsize);
}

// One line, before a run that will take long or much memory or disk, of
// what it will need.
void tell_needs(const Settings& settings, std::int64_t animals, int stderr_fd) {
  if (settings.quiet || (settings.markers.is_design() && settings.records.is_design())) return;
  const RunNeeds needs = needs_of(animals, settings.markers, settings.records, settings.formats,
                                  settings.true_genotypes);
  write_text(stderr_fd, needs_line(needs, static_cast<double>(memory_limit()),
                                   free_disk_bytes(settings.outdir)));
}

void warn_if_streams_overlap(const Simulation& run, int stderr_fd) {
  if (run.numbers_drawn <= kReplicateStride) return;
  write_text(stderr_fd, "pedsim: warning: this run drew " + std::to_string(run.numbers_drawn) +
                            " numbers, more than the 2^44 between the streams of two "
                            "replicates; replicates of its seed share numbers\n");
}

// One run: outputs in the working directory or --outdir, reports where they
// are named.
int run_once(const CommandLine& line, const std::optional<std::string>& seed_variable,
             int stdout_fd, int stderr_fd) {
  const Settings& settings = line.settings;
  RunPlan plan = plan_for(settings.records, settings.formats, settings.true_genotypes,
                          settings.pedigree.has_value());
  plan.ask_relatedness(settings.relatedness);
  plan.truth = settings.truth;
  plan.summary = settings.summary;
  if (settings.outdir) {
    plan.folder = *settings.outdir;
    plan.make_folder = true;
    plan.run_row = true;
  }
  const std::vector<RunFile> files_of_run = files_of(plan);
  check_distinct(files_of_run);
  check_not_written_by(stdout_fd, "standard output", files_of_run);
  check_not_written_by(stderr_fd, "standard error", files_of_run);
  handle_interrupts(stderr_fd, "ped.pre and ped.errors");
  Console console(stdout_fd);
  // On a terminal, the run's stage and share done, erased before the
  // console writes and before anything else is said.
  ProgressLine progress(settings.quiet ? -1 : stderr_fd);
  ConsoleBesideProgress console_beside(console, progress);
  RunFiles files(plan, &process_files());
  files.own_stream(stdout_fd);
  files.own_stream(stderr_fd);
  // A folder to be made is made only for arguments known good: a refused
  // command leaves no folder behind.
  struct stat folder {};
  const bool new_folder = settings.outdir && ::stat(settings.outdir->c_str(), &folder) != 0;
  try {
    std::optional<RunArguments> known_good;
    if (new_folder) known_good = read_arguments(line, seed_variable, console, stderr_fd);
    // The outputs exist from the start, created if missing, but keep what they hold
    // until the arguments are known good.
    files.open();
    const RunArguments arguments = known_good
                                       ? *std::move(known_good)
                                       : read_arguments(line, seed_variable, console, stderr_fd);
    report_removed(stderr_fd,
                   files.empty_outputs(arguments.seed, model_text(settings.model, settings.markers,
                                                                  settings.records)));
    tell_needs(settings, arguments.animals(), stderr_fd);
    files.show_progress(&progress);
    const Simulation run =
        arguments.simulate(files.sinks(&console_beside, settings.quiet), settings);
    const EarlierFiles earlier = files.finish(run);
    progress.clear();
    report_earlier_files(stderr_fd, earlier);
    warn_if_streams_overlap(run, stderr_fd);
    return 0;
  } catch (...) {
    const Failure failure = current_failure();
    progress.clear();
    files.failed(failure.status);
    write_text(stderr_fd, failure.text);
    return failure.status;
  }
}

// With --replicates, reports are plain names in each replicate's folder,
// beside the files every replicate writes.
void check_study_names(const CommandLine& line) {
  RunPlan plan = plan_for(line.settings.records, line.settings.formats,
                          line.settings.true_genotypes, line.settings.pedigree.has_value());
  plan.ask_relatedness(line.settings.relatedness);
  plan.run_row = true;
  plan.console_copy = true;
  std::vector<std::pair<std::string, std::string>> taken;
  for (const RunFile& file : files_of(plan)) taken.emplace_back(file.label, file.label);
  for (const auto& [option, name] : {std::pair{"--truth", &line.settings.truth},
                                     std::pair{"--summary", &line.settings.summary}}) {
    if (!*name) continue;
    if ((*name)->find('/') != std::string::npos) {
      stop_usage(std::string("with --replicates, ") + option +
                 " takes a plain file name, written in each replicate's folder");
    }
    const std::string label = std::string(option) + " " + **name;
    for (const auto& [what, other] : taken) {
      if (other == **name) {
        stop_usage(label + " names the same file as " + what +
                   " in every replicate's folder; give each file of a run a name of its own");
      }
    }
    taken.emplace_back(label, **name);
  }
}

// Replicates R0..R0+K-1 side by side, each in its folder of --outdir.
int run_study(const CommandLine& line, const std::optional<std::string>& seed_variable,
              int stdout_fd, int stderr_fd) {
  try {
    check_study_names(line);
    StringSink echo;
    const RunArguments arguments = read_arguments(line, seed_variable, echo, stderr_fd);
    const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
    const Settings& settings = line.settings;
    const ReplicateStudy study{
        .parameters = arguments.parameters.value_or(Parameters{}),
        .supplied = arguments.supplied
                        ? std::make_shared<const SuppliedPedigree>(*arguments.supplied)
                        : nullptr,
        .pedigree_file = settings.pedigree.value_or(""),
        .seed = arguments.seed,
        .outdir = *settings.outdir,
        .first = settings.replicate,
        .count = *settings.replicates,
        .jobs = settings.jobs.value_or(static_cast<int>(cores)),
        .truth = settings.truth,
        .summary = settings.summary,
        .quiet = settings.quiet,
        .formats = settings.formats,
        .true_genotypes = settings.true_genotypes,
        .relatedness = settings.relatedness,
        .model = settings.model,
        .markers = settings.markers,
        .records = settings.records,
        .echo = echo.text};
    check_study_console(study, stdout_fd, stderr_fd);
    Console(stdout_fd).write(echo.text);
    handle_interrupts(stderr_fd, "the replicates being written");
    return run_replicates(study, stderr_fd);
  } catch (...) {
    const Failure failure = current_failure();
    write_text(stderr_fd, failure.text);
    return failure.status;
  }
}

// Checks the options against each other.
void check_options(const CommandLine& line, const std::vector<std::string_view>& given) {
  const Settings& s = line.settings;
  const auto was_given = [&given](std::string_view name) {
    return std::find(given.begin(), given.end(), name) != given.end();
  };
  if (s.replicates) {
    if (*s.replicates > kMaxReplicate + 1 - s.replicate) {
      stop_usage("--replicates must be an integer from 1 to " +
                 std::to_string(kMaxReplicate + 1 - s.replicate) + " from --replicate " +
                 std::to_string(s.replicate) + ", got '" + std::to_string(*s.replicates) + "'");
    }
    if (!s.outdir) stop_usage("--replicates needs --outdir DIR, the folder of the study");
  }
  if (was_given("--jobs") && !s.replicates) stop_usage("--jobs goes with --replicates");
  s.relatedness.check(s.markers);
  for (const std::string_view option : {"--pedigree-format", "--genotyped"}) {
    if (was_given(option) && !s.pedigree) {
      stop_usage(std::string(option).append(" goes with --pedigree"));
    }
  }
}

// "pedsim collect DIR" takes --replicates and --replicate only.
void check_collect(CommandLine& line, const std::vector<std::string_view>& given) {
  for (const std::string_view name : given) {
    if (name != "--replicates" && name != "--replicate") {
      stop_usage("collect takes no option " + std::string(name) +
                 "; usage: pedsim collect [--replicates K [--replicate R0]] DIR");
    }
  }
  if (line.numbers.size() != 2) {
    stop_usage("usage: pedsim collect [--replicates K [--replicate R0]] DIR");
  }
  const bool first_given = std::find(given.begin(), given.end(), "--replicate") != given.end();
  const Settings& s = line.settings;
  if (first_given && !s.replicates) stop_usage("collect: --replicate goes with --replicates");
  line.collect = CollectRequest{std::string(line.numbers[1]), std::nullopt, s.replicates};
  if (first_given) line.collect->first = s.replicate;
}

// "pedsim merge --outdir DIR PART..." takes --outdir and
// --compression-level only.
void check_merge(CommandLine& line, const std::vector<std::string_view>& given) {
  constexpr std::string_view kUsage =
      "usage: pedsim merge --outdir DIR [--compression-level L] PART...";
  for (const std::string_view name : given) {
    if (name != "--outdir" && name != "--compression-level") {
      stop_usage(std::string("merge takes no option ").append(name).append("; ").append(kUsage));
    }
  }
  if (!line.settings.outdir || line.numbers.size() < 3) stop_usage(std::string(kUsage));
  for (std::size_t k = 1; k < line.numbers.size(); ++k)
    line.merge_parts.emplace_back(line.numbers[k]);
}

}  // namespace

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
  std::vector<std::string_view> given;
  for (std::size_t k = 0; k < options.size(); ++k) {
    const std::string_view arg = options[k];
    if (!arg.starts_with("--")) {
      line.numbers.push_back(arg);
      continue;
    }
    // --name VALUE or --name=VALUE
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    const Option* option = find_option(name);
    if (option == nullptr) {
      const std::string nearest = nearest_name(name, false);
      stop_usage("unknown option '" + std::string(name) + "'" +
                 (nearest.empty() ? "" : "; did you mean " + nearest + "?") + " (see --help)");
    }
    given.push_back(name);
    if (option->kind == ValueKind::kFlag) {
      if (equals != std::string_view::npos) {
        stop_usage("option " + std::string(name) + " takes no value");
      }
      apply_option(*option, {}, line.settings);
    } else if (equals != std::string_view::npos) {
      apply_option(*option, arg.substr(equals + 1), line.settings);
    } else if (k + 1 < options.size()) {
      const std::string_view value = options[++k];
      // A forgotten value takes the next number: say so if a number is missing.
      if (read_integer_argument(value).code == 0) {
        line.numeric_option_value = std::string(name) + " took '" + std::string(value) + "'";
      }
      apply_option(*option, value, line.settings);
    } else {
      stop_usage("option " + std::string(name) + " needs a value");
    }
  }
  if (end_of_options != args.end()) {
    line.numbers.insert(line.numbers.end(), end_of_options + 1, args.end());
  }
  if (!line.numbers.empty() && line.numbers[0] == "collect") {
    check_collect(line, given);
    return line;
  }
  if (!line.numbers.empty() && line.numbers[0] == "merge") {
    check_merge(line, given);
    return line;
  }
  check_options(line, given);
  settle_record_defaults(line.settings, line.settings.pedigree.has_value());
  return line;
}

namespace {

// Text as roff shows it: backslashes and hyphens escaped, and no line taken
// for a request.
std::string roff(std::string_view text) {
  std::string out;
  bool line_start = true;
  for (const char c : text) {
    if (line_start && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
    line_start = c == '\n';
  }
  return out;
}

// The usage's lines before the options, as the manual's sections.
std::string manual_head() {
  const std::string_view text = kUsageBeforeOptions;
  const std::size_t description = text.find("\n\n");
  std::string page = ".SH SYNOPSIS\n.nf\n" +
                     roff(text.substr(std::string_view("usage: ").size(),
                                      description - std::string_view("usage: ").size())) +
                     "\n.fi\n.SH DESCRIPTION\n";
  for (std::size_t at = description + 2; at < text.size();) {
    const std::size_t end = std::min(text.find("\n\n", at), text.size());
    const std::string_view paragraph = text.substr(at, end - at);
    const bool listing = paragraph.find("\n  ") != std::string_view::npos;
    page += listing ? ".PP\n.nf\n" + roff(paragraph) + "\n.fi\n" : ".PP\n" + roff(paragraph) + "\n";
    at = end + 2;
  }
  return page;
}

std::string manual_options() {
  std::string page = ".SH OPTIONS\n";
  for (const Option& option : options()) {
    page.append(".TP\n.B ").append(roff(option.name));
    if (!option.value_name.empty())
      page.append(" \\fI").append(roff(option.value_name)).append("\\fR");
    page.append("\n").append(roff(option.help)).append("\n");
    if (option.choices != nullptr)
      page.append(".nf\n").append(roff(option.choices())).append(".fi\n");
  }
  return page;
}

std::string manual_tail() {
  const std::string_view text = kUsageAfterOptions;
  std::string page;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find("\n\n", at), text.size());
    std::string_view paragraph = text.substr(at, end - at);
    if (paragraph.starts_with("Environment:\n")) {
      page += ".SH ENVIRONMENT\n.nf\n" + roff(paragraph.substr(13)) + "\n.fi\n";
    } else if (paragraph.starts_with("Exit status: ")) {
      page += ".SH EXIT STATUS\n" + roff(paragraph.substr(13)) + "\n";
    } else {
      page += ".PP\n" + roff(paragraph) + "\n";
    }
    at = end + 2;
  }
  return page;
}

}  // namespace

std::string manual_page() {
  return ".TH PEDSIM 1 \"\" \"pedsim " PEDSIM_VERSION
         "\" \"User Commands\"\n"
         ".SH NAME\npedsim \\- simulate animal pedigrees with genotypes, errors and missing "
         "data\n" +
         manual_head() + manual_options() + manual_tail() +
         ".SH SEE ALSO\nThe user guide and the reference: docs/guide.md and docs/reference.md of "
         "the source, and README.md's recipes.\n";
}

namespace {

// Joins the parts; the files they hold that merging does not join are named.
int merge_folders(const CommandLine& line, int stderr_fd) {
  const MergeOutcome outcome = merge_parts(line.merge_parts, *line.settings.outdir,
                                           line.settings.formats.compression_level());
  if (!outcome.not_joined.empty()) {
    std::string names;
    for (const std::string& name : outcome.not_joined)
      names.append(names.empty() ? "" : ", ").append(name);
    write_text(
        stderr_fd,
        "pedsim merge: not joined, each part's holding its own chromosomes only: " + names + "\n");
  }
  return 0;
}

}  // namespace

int run_command_line(std::span<const std::string_view> args,
                     const std::optional<std::string>& seed_variable, int stdout_fd,
                     int stderr_fd) {
  try {
    const CommandLine line = parse_command_line(args);
    if (line.help) {
      write_text(stdout_fd, std::string(kUsageBeforeOptions) + options_usage() +
                                std::string(kUsageAfterOptions));
      return 0;
    }
    if (line.version) {
      write_text(stdout_fd, "pedsim " PEDSIM_VERSION "\n");
      return 0;
    }
    if (line.collect) return collect_replicates(*line.collect, stderr_fd);
    if (!line.merge_parts.empty()) return merge_folders(line, stderr_fd);
    if (line.settings.replicates) return run_study(line, seed_variable, stdout_fd, stderr_fd);
    return run_once(line, seed_variable, stdout_fd, stderr_fd);
  } catch (...) {
    const Failure failure = current_failure();
    write_text(stderr_fd, failure.text);
    return failure.status;
  }
}

}  // namespace pedsim
