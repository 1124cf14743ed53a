#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "random/uniform_stream.hpp"

namespace pedsim {

// Long runs of numbers are drawn a block at a time through the stream's
// lanes into a buffer that stays in the second-level cache while its block
// is used: 16 lanes of 4099 numbers, an odd lane length keeping the lanes'
// writes from falling into the same cache sets.
inline constexpr std::size_t kDrawBlock = 16 * 4099;

// Draws the next `count` numbers of `stream` a block at a time into
// `buffer` (resized to at most one block) and hands each block to
// `use(first, z)`: `first` counts the numbers drawn before the block, `z`
// holds the integers behind the block's numbers, in order.
template <class Buffer, class Use>
void draw_in_blocks(UniformStream& stream, std::size_t count, Buffer& buffer, Use&& use) {
  buffer.resize(std::min(count, kDrawBlock));
  for (std::size_t first = 0; first < count; first += kDrawBlock) {
    const auto block = std::span(buffer.data(), std::min(kDrawBlock, count - first));
    stream.fill_z(block);
    use(first, std::span<const std::uint32_t>(block));
  }
}

}  // namespace pedsim
