// Fuzz target: any byte string given as a command-line argument either reads
// as a value or yields one of the argument diagnostics, without a crash or a
// sanitizer report; a value read is the one a plain decimal parse gives.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cli/command_line.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view argument(reinterpret_cast<const char*>(data), size);
  const pedsim::ArgumentRead read = pedsim::read_integer_argument(argument);
  if (read.code != 0 && read.code != 24 && read.code != 59 && read.code != 64) std::abort();
  if (read.code == 0) {
    // The value is the decimal text that starts the first 30 characters
    // after leading blanks.
    std::string input(argument.substr(0, pedsim::kInputWidth));
    const auto start = input.find_first_not_of(" \t");
    if (start == std::string::npos) std::abort();
    char* end = nullptr;
    const long long expected = std::strtoll(input.c_str() + start, &end, 10);
    if (end == input.c_str() + start || expected != read.value) std::abort();
  }
  return 0;
}
