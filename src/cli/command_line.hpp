#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/studies.hpp"
#include "pedsim/pedsim.hpp"

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

// The command line split into its options and the numbers.
struct CommandLine {
  std::vector<std::string_view> numbers;
  bool help = false;
  bool version = false;
  // "pedsim collect DIR": the folder whose replicate table is rebuilt.
  std::optional<CollectRequest> collect;
  // "pedsim merge --outdir DIR PART...": the parts' folders, in map order.
  std::vector<std::string> merge_parts;
  // The options' values, each checked against its kind and limits.
  Settings settings;
  // The last option given its value as a separate argument that reads as a
  // number ("--replicate took '3'"): named when a number is then missing.
  std::string numeric_option_value;
};

// Splits the arguments into options (anywhere before a lone "--", and "-h"
// as the first argument) and numbers. An unknown option, a missing value or
// a value out of its range is a usage error (a thrown Stop).
CommandLine parse_command_line(std::span<const std::string_view> args);

// The manual page, pedsim(1), in roff: the usage and every option, from
// the same texts and tables as --help.
std::string manual_page();

// Runs the program for these arguments (without the program's name), with
// PEDSIM_SEED's value if set: writes the console to `stdout_fd` and
// diagnostics to `stderr_fd`, and returns the exit status.
int run_command_line(std::span<const std::string_view> args,
                     const std::optional<std::string>& seed_variable, int stdout_fd, int stderr_fd);

}  // namespace pedsim
