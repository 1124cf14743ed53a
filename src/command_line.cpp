#include "command_line.hpp"

#include <array>
#include <charconv>
#include <new>

#include "io/diagnostic.hpp"
#include "io/output_file.hpp"
#include "io/records.hpp"
#include "io/reports.hpp"
#include "pedsim/pedsim.hpp"

namespace pedsim {

namespace {

constexpr std::string_view kUsage =
    "usage: pedsim [--seed T] [--truth FILE] [--summary FILE] NGEN N MALE\n"
    "       pedsim --help | --version\n"
    "\n"
    "Breeds N founders (the first MALE of them male) and NGEN overlapping\n"
    "generations by random mating, passing one three-allele marker by Mendelian\n"
    "inheritance; then removes recorded genotypes at an age-dependent rate and\n"
    "injects genotyping errors into animals whose parents are both ungenotyped.\n"
    "\n"
    "Writes, in the working directory (replacing existing files):\n"
    "  ped.pre     animal, sire, dam, sex, recorded allele 1, recorded allele 2\n"
    "  ped.errors  animal, recorded allele 1 before the injected error\n"
    "\n"
    "Options (before the numbers; they only add files, the run stays the same):\n"
    "  --seed T        seed the random stream with T, as PEDSIM_SEED=T does\n"
    "  --truth FILE    per animal: animal, sire, dam, sex, generation, true alleles,\n"
    "                  lost flag, recorded alleles, altered flag (unit 3)\n"
    "  --summary FILE  a short report of the run, its seed included (unit 4)\n"
    "\n"
    "Environment:\n"
    "  PEDSIM_SEED  a 32-bit integer used as the clock sum that seeds the random\n"
    "               stream; with it set, a run is a pure function of its arguments\n"
    "\n"
    "Exit status: 0 success; 2 an unknown option, arguments outside the limits or\n"
    "an invalid seed; 24, 59, 64 an argument missing or not an integer; 9, 10, 29,\n"
    "30, 42, 43 an output file that cannot be created; 38 a failed write; 41, 179\n"
    "not enough memory or a table too large; 70 an internal error.\n";

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

// The files a run writes.
struct RunFiles {
  OutputFile pre;
  OutputFile errors;
  OutputFile truth;
  OutputFile summary;
};

void write_text(int fd, std::string_view text) { Console(fd).write(text); }

// Reads the three numbers, echoing each to the console as it is read.
std::array<std::int32_t, 3> read_numbers(std::span<const std::string_view> args,
                                         ByteSink& console) {
  static constexpr std::array<std::string_view, 3> kLabels{"ngen=", "n=", "male="};
  std::array<std::int32_t, 3> values{};
  for (std::size_t k = 0; k < kLabels.size(); ++k) {
    const std::string_view argument = k < args.size() ? args[k] : std::string_view{};
    const ArgumentRead read = read_integer_argument(argument);
    if (read.code != 0) stop_with_diagnostic(read.code, unit::kArgument, kArgumentFileName);
    values[k] = read.value;
    console.write(console_line_label_int(kLabels[k], read.value));
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

int run_simulation(const CommandLine& line, const std::optional<std::string>& seed_variable,
                   RunFiles& files, ByteSink& console) {
  files.pre.open(".", kPedPreName, unit::kPedPre);
  files.errors.open(".", kPedErrorsName, unit::kPedErrors);
  if (line.truth_path) files.truth.open(".", *line.truth_path, unit::kTruth);
  if (line.summary_path) files.summary.open(".", *line.summary_path, unit::kSummary);
  const auto [generations, founders, males] = read_numbers(line.numbers, console);
  // The seed is checked before the numbers are checked against each other.
  const Seed seed = seed_of(line, seed_variable);
  const Parameters parameters = Parameters::make(generations, founders, males);
  const Simulation run = simulate(
      parameters, seed, {.console = &console, .pedigree = &files.pre, .errors = &files.errors});
  files.pre.close();
  files.errors.close();
  if (line.truth_path) {
    write_truth(run, files.truth);
    files.truth.close();
  }
  if (line.summary_path) {
    write_summary(run, files.summary);
    files.summary.close();
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
  std::size_t k = 0;
  if (!args.empty() && args[0] == "-h") {
    line.help = true;
    return line;
  }
  for (; k < args.size() && args[k].starts_with("--"); ++k) {
    const std::string_view option = args[k];
    if (option == "--help") {
      line.help = true;
      return line;
    }
    if (option == "--version") {
      line.version = true;
      return line;
    }
    std::optional<std::string>* value = nullptr;
    if (option == "--seed") value = &line.seed;
    if (option == "--truth") value = &line.truth_path;
    if (option == "--summary") value = &line.summary_path;
    if (value == nullptr) stop_usage("unknown option '" + std::string(option) + "' (see --help)");
    if (k + 1 >= args.size()) stop_usage("option " + std::string(option) + " needs a value");
    *value = std::string(args[++k]);
  }
  if (line.seed && !parse_int32(*line.seed)) {
    stop_usage("--seed must be a decimal 32-bit signed integer, got '" + *line.seed + "'");
  }
  line.numbers.assign(args.begin() + static_cast<std::ptrdiff_t>(k), args.end());
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
  Console console(stdout_fd);
  RunFiles files;
  const auto stop = [&stderr_fd](int status, const std::string& text) {
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
