#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/run.hpp"

namespace pedsim {

// Width of the text buffer that receives each command-line argument.
inline constexpr std::size_t kInputWidth = 30;

// The outcome of reading one integer from an argument: `code` is 0 when
// `value` was read, else the severe diagnostic code (24 nothing to read,
// 59 not a number, 64 a number that is not a 32-bit integer).
struct ArgumentRead {
  int code = 0;
  std::int32_t value = 0;
};

// Reads one integer in free form from the argument as it stands in the
// 30-character input buffer: cut to 30 characters, blank-filled, leading
// blanks skipped, the value ending at a blank, a comma, a slash or the end of
// the buffer.
ArgumentRead read_integer_argument(std::string_view argument);

// A strict decimal 32-bit signed integer (optional sign, digits, nothing else).
std::optional<std::int32_t> parse_int32(std::string_view text);

struct SetupOptions {
  // Folder in which the output files are created.
  std::string dir = ".";
  // Clock sum to seed from in place of the clocks; unset: seed from the
  // clocks. `seed_origin` names where it came from, for messages.
  std::optional<std::string> seed_text;
  std::string seed_origin = "PEDSIM_SEED";
  // Optional reports: the truth file (unit 3) and the run summary (unit 4).
  std::optional<std::string> truth_path;
  std::optional<std::string> summary_path;
};

// The command line split into options, which may only come before the three
// numbers, and the numbers themselves.
struct CommandLine {
  std::vector<std::string_view> numbers;
  bool help = false;
  bool version = false;
  std::optional<std::string> seed;  // --seed T, already checked to be an integer
  std::optional<std::string> truth_path;
  std::optional<std::string> summary_path;
};

// Splits the arguments: leading arguments that start with "--" are options
// (and "-h" as the first argument); an unknown option, a missing value or a
// --seed that is not a 32-bit integer is a usage error.
CommandLine parse_command_line(std::span<const std::string_view> args);

// The whole set-up phase: creates both output files, reads and echoes the
// three arguments, seeds the stream, derives the counts and allocates and
// clears the table and lists.
void set_up(Run& run, std::span<const std::string_view> args, const SetupOptions& options);

// The part of set-up that follows reading the parameters (already stored in
// run.ngen, run.n, run.male): the loss step, the seed, the counts and the
// table. Also serves runs whose parameters are given directly.
void set_up_parameters(Run& run, const std::optional<std::string>& seed_text,
                       const std::string& seed_origin);

// The steps of set-up, in the order set_up runs them.
void read_arguments(Run& run, std::span<const std::string_view> args);
void seed_stream(Run& run, const std::optional<std::string>& seed_text,
                 const std::string& seed_origin);
// Derives female, ntot and ratio; arguments outside the limits that breeding
// needs stop the run with a usage error, a table too large for 32-bit sizes
// with the size-overflow diagnostic.
void derive_counts(Run& run);
// Allocates every column and list at its final size, cleared to 0, and sets
// lastanimal to n.
void allocate_table(Run& run);

}  // namespace pedsim
