#pragma once

#include <cstddef>
#include <cstdint>

namespace pedsim {

// Turns 64 rows of two-bit codes into 64 columns: `low` and `high` hold, per
// row in order, the two bits of each of 64 codes (bit k: code k). For each
// code k below `count`, writes the first `bytes` (at most 16) of its column
// at out + k * stride: byte q holds rows 4q..4q+3, two bits each from the
// low bits up (the low bit first). With the processor's bit-matrix
// instructions (GFNI and AVX-512 VBMI) where it has them.
void write_code_columns(const std::uint64_t* low, const std::uint64_t* high, std::size_t count,
                        char* out, std::size_t stride, std::size_t bytes);

// The same without those instructions, on any processor.
void write_code_columns_portable(const std::uint64_t* low, const std::uint64_t* high,
                                 std::size_t count, char* out, std::size_t stride,
                                 std::size_t bytes);

}  // namespace pedsim
