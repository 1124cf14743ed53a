#include "sim/panel_kernels.hpp"

#include <algorithm>
#include <bit>

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
void fill_codes(const std::uint32_t* u, std::uint64_t threshold, std::uint32_t scale, std::size_t n,
                Field* out) {
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

namespace {

// The natural logarithm of x in (0, 1], to about 1e-14, without branches or
// calls, so that a loop of it runs a vector at a time: x = 2^e m with m in
// [sqrt(1/2), sqrt(2)), log m = 2 atanh(s) with s = (m - 1) / (m + 1).
inline double log_unit(double x) {
  const auto bits = std::bit_cast<std::uint64_t>(x);
  double m = std::bit_cast<double>((bits & 0x000FFFFFFFFFFFFFULL) | 0x3FF0000000000000ULL);
  // The biased exponent, made a double by placing it in the mantissa of 2^52.
  double e = std::bit_cast<double>((bits >> 52) | 0x4330000000000000ULL) - 0x1p52 - 1023;
  const bool high = m > 1.4142135623730951;
  m = high ? m * 0.5 : m;
  e = high ? e + 1 : e;
  const double s = (m - 1) / (m + 1);
  const double s2 = s * s;
  const double series =
      2 + s2 * (2.0 / 3 +
                s2 * (2.0 / 5 +
                      s2 * (2.0 / 7 +
                            s2 * (2.0 / 9 +
                                  s2 * (2.0 / 11 +
                                        s2 * (2.0 / 13 + s2 * (2.0 / 15 + s2 * (2.0 / 17))))))));
  return e * 0.6931471805599453 + s * series;
}

}  // namespace

PEDSIM_CPU_DISPATCH
void geometric_gaps(const std::uint32_t* u, std::size_t n, double scale, std::uint32_t* out) {
  constexpr double kLongest = 0x1p31;
  for (std::size_t k = 0; k < n; ++k) {
    const double gap = log_unit((u[k] + 0.5) * 0x1p-32) * scale;
    out[k] = static_cast<std::uint32_t>(gap < kLongest ? gap : kLongest);
  }
}

PEDSIM_CPU_DISPATCH
void select_bits(const std::uint64_t* first, const std::uint64_t* second, const std::uint64_t* mask,
                 std::size_t words, std::uint64_t* out) {
  for (std::size_t w = 0; w < words; ++w) out[w] = (first[w] & ~mask[w]) | (second[w] & mask[w]);
}

}  // namespace pedsim
