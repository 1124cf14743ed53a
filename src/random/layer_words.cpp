#include "random/layer_words.hpp"

#include <Random123/philox.h>

#include "platform/cpu_dispatch.hpp"

namespace pedsim {

// Independent blocks, so the loop runs as many generators as the vector
// registers hold (this file is compiled for vectorising).
PEDSIM_CPU_DISPATCH
void fill_layer_words(const std::array<std::uint32_t, 2>& key, std::uint32_t row,
                      std::uint32_t lane, std::uint32_t first_block, std::uint64_t* out,
                      std::size_t blocks) {
  const r123::Philox4x32::key_type k = {{key[0], key[1]}};
  const r123::Philox4x32 philox;
  for (std::size_t b = 0; b < blocks; ++b) {
    const r123::Philox4x32::ctr_type counter = {
        {first_block + static_cast<std::uint32_t>(b), row, lane, 0}};
    const r123::Philox4x32::ctr_type bits = philox(counter, k);
    out[2 * b] = (std::uint64_t{bits[1]} << 32) | bits[0];
    out[2 * b + 1] = (std::uint64_t{bits[3]} << 32) | bits[2];
  }
}

}  // namespace pedsim
