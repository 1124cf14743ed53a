#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

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

// Numbers of a stream drawn ahead a block at a time through its lanes and
// handed out one by one, for loops that take a varying count of numbers per
// step. `finish` leaves the stream just after the last number handed out,
// exactly as drawing them one at a time would have.
class DrawnAhead {
 public:
  explicit DrawnAhead(UniformStream& stream) : stream_(stream), block_start_(stream) {}

  double next_uniform() {
    if (next_ == block_.size()) draw_block();
    return UniformStream::to_uniform(static_cast<std::int32_t>(block_[next_++]));
  }

  void finish() {
    stream_ = block_start_;
    stream_.jump(next_);
  }

 private:
  // Enough numbers for the lanes to pay, few enough to stay in the cache.
  static constexpr std::size_t kBlock = std::size_t{1} << 14;

  void draw_block() {
    block_start_ = stream_;
    block_.resize(kBlock);
    stream_.fill_z(block_);
    next_ = 0;
  }

  UniformStream& stream_;
  UniformStream block_start_;
  std::vector<std::uint32_t> block_;
  std::size_t next_ = 0;
};

}  // namespace pedsim
