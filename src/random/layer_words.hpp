#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace pedsim {

// Random 64-bit words of one of a layer's streams (`row`, `lane`), filled
// in bulk: words 2b and 2b+1 hold block b of the stream, its four 32-bit
// numbers in order from the low bits, exactly as LayerStream(row, lane)
// gives them one by one. Fills `blocks` blocks from block `first_block` on.
void fill_layer_words(const std::array<std::uint32_t, 2>& key, std::uint32_t row,
                      std::uint32_t lane, std::uint32_t first_block, std::uint64_t* out,
                      std::size_t blocks);

}  // namespace pedsim
