#include "random/layer_stream.hpp"

#include <Random123/philox.h>

namespace pedsim {

std::array<std::uint32_t, 2> layer_key(std::int32_t seed, std::int32_t replicate, Layer layer) {
  // Replicates (below 2^17) in the low bits, the layer above them.
  return {static_cast<std::uint32_t>(seed),
          static_cast<std::uint32_t>(replicate) | (static_cast<std::uint32_t>(layer) << 17)};
}

LayerStream::LayerStream(std::int32_t seed, std::int32_t replicate, Layer layer)
    : key_(layer_key(seed, replicate, layer)) {}

LayerStream::LayerStream(std::int32_t seed, std::int32_t replicate, Layer layer,
                         std::uint32_t row, std::uint32_t lane)
    : key_(layer_key(seed, replicate, layer)), row_(row), lane_(lane) {}

void LayerStream::refill() {
  // The counter: the block, the row, the lane, the block's high bits.
  const r123::Philox4x32::ctr_type counter = {{static_cast<std::uint32_t>(block_index_), row_,
                                               lane_,
                                               static_cast<std::uint32_t>(block_index_ >> 32)}};
  const r123::Philox4x32::key_type key = {{key_[0], key_[1]}};
  const r123::Philox4x32::ctr_type bits = r123::Philox4x32()(counter, key);
  for (std::size_t k = 0; k < block_.size(); ++k) block_[k] = bits[k];
  ++block_index_;
  used_ = 0;
}

}  // namespace pedsim
