#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace pedsim {

// Writes to `out` (room for keys.size() entries) the positions i, in
// increasing order, at which keys[i] < limit, and returns how many there
// are. Eight keys are compared at once where the processor has 256-bit
// integer vectors.
std::size_t positions_below(std::span<const std::uint32_t> keys, std::uint32_t limit,
                            std::uint32_t* out);

}  // namespace pedsim
