#include "core/setup.hpp"

#include <array>
#include <charconv>
#include <limits>
#include <vector>

#include "output/diagnostic.hpp"

namespace pedsim {

namespace {

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

// Tables from this many rows on are mapped in the background while the run
// fills them; for smaller ones a thread costs more than it saves.
constexpr std::int32_t kPopulatedTableRows = 1 << 18;

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

void read_arguments(Run& run, std::span<const std::string_view> args) {
  struct Parameter {
    std::string_view label;
    std::int32_t Run::*field;
  };
  static constexpr std::array<Parameter, 3> kParameters{
      {{"ngen=", &Run::ngen}, {"n=", &Run::n}, {"male=", &Run::male}}};
  for (std::size_t k = 0; k < kParameters.size(); ++k) {
    const std::string_view argument = k < args.size() ? args[k] : std::string_view{};
    const ArgumentRead read = read_integer_argument(argument);
    if (read.code != 0) stop_with_diagnostic(read.code, unit::kArgument, kArgumentFileName);
    run.*kParameters[k].field = read.value;
    console_label_int(run.console, kParameters[k].label, read.value);
  }
}

void seed_stream(Run& run, const std::optional<std::string>& seed_text,
                 const std::string& seed_origin) {
  if (!seed_text) {
    run.seed = UniformStream::clock_sum();
    run.seed_origin = "clocks";
  } else {
    const auto t = parse_int32(*seed_text);
    if (!t) {
      stop_usage(seed_origin + " must be a decimal 32-bit signed integer, got '" + *seed_text +
                 "'");
    }
    run.seed = *t;
    run.seed_origin = seed_origin;
  }
  run.stream.seed_from_sum(run.seed);
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

void derive_counts(Run& run) {
  const auto values = [&run] {
    return "ngen=" + std::to_string(run.ngen) + " n=" + std::to_string(run.n) +
           " male=" + std::to_string(run.male);
  };
  if (run.male < 1) stop_usage("male must be at least 1 (" + values() + ")");
  if (run.n < run.male) stop_usage("n must be at least male (" + values() + ")");
  if (run.ngen < 0) stop_usage("ngen must not be negative (" + values() + ")");
  run.female = run.n - run.male;
  if (run.ngen >= 1 && run.female < run.male) {
    stop_usage("breeding needs n - male (the females) to be at least male (" + values() +
               ", females=" + std::to_string(run.female) + ")");
  }
  const std::int64_t ntot = std::int64_t{run.n} + std::int64_t{run.ngen} * run.female;
  // Each column takes 4 bytes per row; its size in bytes must fit in 32 bits.
  if (ntot > std::numeric_limits<std::int32_t>::max() / 4) {
    stop_with_diagnostic(code::kSizeOverflow);
  }
  run.ntot = static_cast<std::int32_t>(ntot);
  run.ratio = run.female / run.male;
}

void allocate_table(Run& run) {
  run.SEX = CodeColumn(run.n);
  run.GEN1 = CodeColumn(run.n);
  run.GEN2 = CodeColumn(run.n);
  run.IS = Column(run.male);
  run.ID = Column(run.female);
  std::vector<BackgroundPopulator::Block> table;
  for (Column Run::*column : {&Run::IV2, &Run::IV3, &Run::IV7}) {
    run.*column = Column(run.ntot);
    table.push_back((run.*column).storage());
  }
  for (CodeColumn Run::*column :
       {&Run::IV4, &Run::IV51, &Run::IV52, &Run::VC, &Run::GE1, &Run::GE2}) {
    run.*column = CodeColumn(run.ntot);
    table.push_back((run.*column).storage());
  }
  run.lastanimal = run.n;
  if (run.ntot >= kPopulatedTableRows) run.populator.start(std::move(table));
}

void set_up(Run& run, std::span<const std::string_view> args, const SetupOptions& options) {
  open_output_files(run.files, options.dir);
  if (options.truth_path) run.files.truth.open(options.dir, *options.truth_path, unit::kTruth);
  if (options.summary_path) {
    run.files.summary.open(options.dir, *options.summary_path, unit::kSummary);
  }
  read_arguments(run, args);
  set_up_parameters(run, options.seed_text, options.seed_origin);
}

void set_up_parameters(Run& run, const std::optional<std::string>& seed_text,
                       const std::string& seed_origin) {
  run.lossrate = static_cast<double>(0.1F);
  seed_stream(run, seed_text, seed_origin);
  derive_counts(run);
  allocate_table(run);
}

}  // namespace pedsim
