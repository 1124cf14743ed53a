#include "random/layer_stream.hpp"

#include <Random123/philox.h>

namespace pedsim {

LayerStream::LayerStream(std::int32_t seed, std::int32_t replicate, Layer layer)
    : key_{static_cast<std::uint32_t>(seed),
           // Replicates (below 2^17) in the low bits, the layer above them.
           static_cast<std::uint32_t>(replicate) | (static_cast<std::uint32_t>(layer) << 17)} {}

void LayerStream::seek(std::uint64_t position) {
  block_index_ = position / block_.size();
  refill();
  used_ = position % block_.size();
}

void LayerStream::refill() {
  const r123::Philox4x32::ctr_type counter = {{static_cast<std::uint32_t>(block_index_),
                                               static_cast<std::uint32_t>(block_index_ >> 32), 0,
                                               0}};
  const r123::Philox4x32::key_type key = {{key_[0], key_[1]}};
  const r123::Philox4x32::ctr_type bits = r123::Philox4x32()(counter, key);
  for (std::size_t k = 0; k < block_.size(); ++k) block_[k] = bits[k];
  ++block_index_;
  used_ = 0;
}

}  // namespace pedsim
