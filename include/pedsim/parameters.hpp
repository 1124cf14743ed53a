#pragma once

#include <cstdint>
#include <string>

namespace pedsim {

// A run's three numbers and the counts derived from them.
struct Parameters {
  std::int32_t generations = 0;  // bred after the founders
  std::int32_t founders = 0;
  std::int32_t males = 0;          // male founders, and sires of every generation
  std::int32_t females = 0;        // founders - males, and dams listed per generation
  std::int32_t rows = 0;           // founders + generations x females
  std::int32_t dams_per_sire = 0;  // females / males, truncated

  // Checks the numbers and derives the counts. Throws InvalidParameters
  // (with a message naming the broken limit and the values) or
  // TableTooLarge.
  static Parameters make(std::int32_t generations, std::int32_t founders, std::int32_t males);
};

// The clock sum that seeds the random stream, where it came from ("clocks",
// "PEDSIM_SEED", "--seed"), and the replicate: replicate r draws from the
// seeded stream jumped ahead by r x 2^44 numbers, so that the replicates of
// one seed are independent runs (replicate 0 is the seeded stream itself).
struct Seed {
  std::int32_t value = 0;
  std::string origin = "PEDSIM_SEED";
  std::int32_t replicate = 0;
  // Reads the clocks: wall-clock seconds plus processor ticks.
  static Seed from_clocks();
};

// Numbers between the starts of two consecutive replicates' streams: runs
// that draw fewer never share a number.
inline constexpr std::uint64_t kReplicateStride = std::uint64_t{1} << 44;
// The largest replicate number.
inline constexpr std::int32_t kMaxReplicate = 99999;

}  // namespace pedsim
