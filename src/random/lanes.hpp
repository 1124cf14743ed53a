#pragma once

#include <cstddef>
#include <cstdint>

namespace pedsim {

// The stream's numbers many at a time: kLanes copies of the stream, each
// started at its own point, stepped side by side.
inline constexpr std::size_t kLanes = 16;

// Steps lane j from the state (first1[j], first2[j]) `chunk` times; lane j
// writes the integer z of its step i to out[j * chunk + i]. Uses the fastest
// way the processor offers.
void run_lanes(const std::int32_t* first1, const std::int32_t* first2, std::uint32_t* out,
               std::size_t chunk);

// The same, the same numbers, on any processor.
void run_lanes_portably(const std::int32_t* first1, const std::int32_t* first2, std::uint32_t* out,
                        std::size_t chunk);

}  // namespace pedsim
