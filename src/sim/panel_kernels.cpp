#include "sim/panel_kernels.hpp"

#include <algorithm>

#include "platform/cpu_dispatch.hpp"

namespace pedsim {

namespace {

constexpr std::size_t kWordBits = 64;

}  // namespace

PEDSIM_CPU_DISPATCH
void bits_at_or_above(const std::uint32_t* u, const std::uint64_t* bound, std::size_t n,
                      std::uint64_t* out) {
  for (std::size_t w = 0; w * kWordBits < n; ++w) {
    const std::size_t first = w * kWordBits;
    const std::size_t count = n - first < kWordBits ? n - first : kWordBits;
    std::uint64_t word = 0;
    for (std::size_t j = 0; j < count; ++j) {
      word |= std::uint64_t{u[first + j] >= bound[first + j]} << j;
    }
    out[w] = word;
  }
}

PEDSIM_CPU_DISPATCH
void bytes_counting_bounds(const std::uint32_t* u, const std::uint64_t* bounds, int alleles,
                           std::size_t n, std::uint8_t* out) {
  const auto per_marker = static_cast<std::size_t>(alleles - 1);
  for (std::size_t m = 0; m < n; ++m) {
    const std::uint64_t* b = bounds + m * per_marker;
    std::uint32_t below = 0;
    for (std::size_t a = 0; a < per_marker; ++a) below += u[m] >= b[a] ? 1U : 0U;
    out[m] = static_cast<std::uint8_t>(below);
  }
}

namespace {

// Eight 2-bit codes, one per byte of `bytes`, side by side in 16 bits.
std::uint64_t pack_eight_codes(std::uint64_t bytes) {
  bytes = (bytes | (bytes >> 6)) & 0x000F000F000F000FULL;
  bytes = (bytes | (bytes >> 12)) & 0x000000FF000000FFULL;
  return (bytes | (bytes >> 24)) & 0xFFFFULL;
}

template <typename Field>
void fill_codes(const std::uint32_t* u, std::uint64_t threshold, std::uint32_t scale,
                std::size_t n, Field* out) {
  for (std::size_t m = 0; m < n; ++m) {
    const auto index = static_cast<Field>((std::uint64_t{u[m]} * scale) >> 32);
    out[m] = u[m] < threshold ? static_cast<Field>(1 + index) : Field{0};
  }
}

}  // namespace

PEDSIM_CPU_DISPATCH
void codes_below(const std::uint32_t* u, std::uint64_t threshold, std::uint32_t scale, int bits,
                 std::size_t n, std::uint64_t* out) {
  if (bits == 16) {
    fill_codes(u, threshold, scale, n, reinterpret_cast<std::uint16_t*>(out));
    return;
  }
  if (bits == 8) {
    fill_codes(u, threshold, scale, n, reinterpret_cast<std::uint8_t*>(out));
    return;
  }
  // Two bits each: a byte per code first, then 32 codes to a word.
  constexpr std::size_t kChunk = 1024;
  std::uint64_t bytes[kChunk / 8];
  for (std::size_t first = 0; first < n; first += kChunk) {
    const std::size_t count = n - first < kChunk ? n - first : kChunk;
    std::fill(bytes, bytes + kChunk / 8, 0);
    fill_codes(u + first, threshold, scale, count, reinterpret_cast<std::uint8_t*>(bytes));
    std::uint64_t* words = out + first / 32;
    for (std::size_t w = 0; w * 32 < count; ++w) {
      words[w] = pack_eight_codes(bytes[4 * w]) | (pack_eight_codes(bytes[4 * w + 1]) << 16) |
                 (pack_eight_codes(bytes[4 * w + 2]) << 32) |
                 (pack_eight_codes(bytes[4 * w + 3]) << 48);
    }
  }
}

PEDSIM_CPU_DISPATCH
void select_bits(const std::uint64_t* first, const std::uint64_t* second,
                 const std::uint64_t* mask, std::size_t words, std::uint64_t* out) {
  for (std::size_t w = 0; w < words; ++w) out[w] = (first[w] & ~mask[w]) | (second[w] & mask[w]);
}

}  // namespace pedsim
