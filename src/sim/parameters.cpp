#include <limits>
#include <string>

#include "pedsim/simulation.hpp"
#include "random/uniform_stream.hpp"

namespace pedsim {

Parameters Parameters::make(std::int32_t generations, std::int32_t founders, std::int32_t males) {
  const std::string values = "ngen=" + std::to_string(generations) +
                             " n=" + std::to_string(founders) + " male=" + std::to_string(males);
  if (males < 1) throw InvalidParameters("male must be at least 1 (" + values + ")");
  if (founders < males) throw InvalidParameters("n must be at least male (" + values + ")");
  if (generations < 0) throw InvalidParameters("ngen must not be negative (" + values + ")");
  Parameters p;
  p.generations = generations;
  p.founders = founders;
  p.males = males;
  p.females = founders - males;
  if (generations >= 1 && p.females < males) {
    throw InvalidParameters("breeding needs n - male (the females) to be at least male (" + values +
                            ", females=" + std::to_string(p.females) + ")");
  }
  const std::int64_t rows = std::int64_t{founders} + std::int64_t{generations} * p.females;
  // Each column takes 4 bytes per row; its size in bytes must fit in 32 bits.
  if (rows > std::numeric_limits<std::int32_t>::max() / 4) throw TableTooLarge();
  p.rows = static_cast<std::int32_t>(rows);
  p.dams_per_sire = p.females / males;
  return p;
}

Seed Seed::from_clocks() { return {UniformStream::clock_sum(), "clocks"}; }

}  // namespace pedsim
