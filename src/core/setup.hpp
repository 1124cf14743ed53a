#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

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
  // Clock sum to seed from in place of the clocks (the value of PEDSIM_SEED);
  // unset: seed from the clocks.
  std::optional<std::string> seed_text;
};

// The whole set-up phase: creates both output files, reads and echoes the
// three arguments, seeds the stream, derives the counts and allocates and
// clears the table and lists.
void set_up(Run& run, std::span<const std::string_view> args, const SetupOptions& options);

// The steps of set-up, in the order set_up runs them.
void read_arguments(Run& run, std::span<const std::string_view> args);
void seed_stream(Run& run, const std::optional<std::string>& seed_text);
// Derives female, ntot and ratio; arguments outside the limits that breeding
// needs stop the run with a usage error, a table too large for 32-bit sizes
// with the size-overflow diagnostic.
void derive_counts(Run& run);
// Allocates every column and list at its final size, cleared to 0, and sets
// lastanimal to n.
void allocate_table(Run& run);

}  // namespace pedsim
