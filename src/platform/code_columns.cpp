#include "platform/code_columns.hpp"

#include <array>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define PEDSIM_HAS_GFNI_PATH 1
#endif

namespace pedsim {

namespace {

using Square = std::array<std::uint64_t, 64>;

// Bit k of word j becomes bit j of word k.
void transpose(Square& a) {
  std::uint64_t mask = 0x00000000FFFFFFFFULL;
  for (int j = 32; j != 0; j >>= 1, mask ^= mask << j) {
    for (int k = 0; k < 64; k = ((k | j) + 1) & ~j) {
      const std::uint64_t t = ((a[k] >> j) ^ a[k | j]) & mask;
      a[k] ^= t << j;
      a[k | j] ^= t;
    }
  }
}

// Bit t of `bits` moved to bit 2t.
std::uint64_t spread(std::uint32_t bits) {
  std::uint64_t x = bits;
  x = (x | (x << 16)) & 0x0000FFFF0000FFFFULL;
  x = (x | (x << 8)) & 0x00FF00FF00FF00FFULL;
  x = (x | (x << 4)) & 0x0F0F0F0F0F0F0F0FULL;
  x = (x | (x << 2)) & 0x3333333333333333ULL;
  x = (x | (x << 1)) & 0x5555555555555555ULL;
  return x;
}

#ifdef PEDSIM_HAS_GFNI_PATH

#define PEDSIM_GFNI __attribute__((target("avx512f,avx512bw,avx512vbmi,gfni")))
// GCC's headers pass an undefined vector as the unused source of these
// instructions, which -Wuninitialized reports where they are inlined.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Byte m*8 + (7 - r) takes byte r*8 + m: qword m gathers byte m of the
// eight rows, the last row first, as the bit-matrix instruction wants it.
PEDSIM_GFNI __m512i gather_bytes_index() {
  alignas(64) std::array<std::uint8_t, 64> index{};
  for (int m = 0; m < 8; ++m) {
    for (int r = 0; r < 8; ++r) index[m * 8 + (7 - r)] = static_cast<std::uint8_t>(r * 8 + m);
  }
  return _mm512_load_si512(index.data());
}

// The 64 column bytes of rows 4g..4g+3: byte k holds their codes k.
PEDSIM_GFNI __m512i four_rows(const std::uint64_t* low, const std::uint64_t* high, int g,
                              __m512i index) {
  const int r = 4 * g;
  const __m512i rows = _mm512_set_epi64(
      static_cast<long long>(high[r + 3]), static_cast<long long>(low[r + 3]),
      static_cast<long long>(high[r + 2]), static_cast<long long>(low[r + 2]),
      static_cast<long long>(high[r + 1]), static_cast<long long>(low[r + 1]),
      static_cast<long long>(high[r]), static_cast<long long>(low[r]));
  const __m512i bytes = _mm512_permutexvar_epi8(index, rows);
  // Byte i of each qword becomes bit i of each of its eight bytes, in turn.
  const __m512i identity = _mm512_set1_epi64(static_cast<long long>(0x8040201008040201ULL));
  return _mm512_gf2p8affine_epi64_epi8(identity, bytes, 0);
}

// Sixteen registers of 64 column bytes (register g: rows 4g..4g+3) turned
// so that register c, lane l, holds the 16 bytes of column 16l + c.
PEDSIM_GFNI void turn_sixteen(__m512i (&r)[16]) {
  __m512i t[16];
  for (int i = 0; i < 8; ++i) {
    t[2 * i] = _mm512_unpacklo_epi8(r[2 * i], r[2 * i + 1]);
    t[2 * i + 1] = _mm512_unpackhi_epi8(r[2 * i], r[2 * i + 1]);
  }
  // u[4j + q]: rows 4j..4j+3, columns 4q..4q+3 of each lane.
  __m512i u[16];
  for (int j = 0; j < 4; ++j) {
    for (int h = 0; h < 2; ++h) {
      u[4 * j + 2 * h] = _mm512_unpacklo_epi16(t[4 * j + h], t[4 * j + 2 + h]);
      u[4 * j + 2 * h + 1] = _mm512_unpackhi_epi16(t[4 * j + h], t[4 * j + 2 + h]);
    }
  }
  // v[8p + e]: rows 8p..8p+7, columns 2e, 2e+1.
  __m512i v[16];
  for (int p = 0; p < 2; ++p) {
    for (int q = 0; q < 4; ++q) {
      v[8 * p + 2 * q] = _mm512_unpacklo_epi32(u[4 * (2 * p) + q], u[4 * (2 * p + 1) + q]);
      v[8 * p + 2 * q + 1] = _mm512_unpackhi_epi32(u[4 * (2 * p) + q], u[4 * (2 * p + 1) + q]);
    }
  }
  for (int e = 0; e < 8; ++e) {
    r[2 * e] = _mm512_unpacklo_epi64(v[e], v[8 + e]);
    r[2 * e + 1] = _mm512_unpackhi_epi64(v[e], v[8 + e]);
  }
}

PEDSIM_GFNI void write_code_columns_gfni(const std::uint64_t* low, const std::uint64_t* high,
                                         std::size_t count, char* out, std::size_t stride,
                                         std::size_t bytes) {
  const __m512i index = gather_bytes_index();
  __m512i r[16];
  for (int g = 0; g < 16; ++g) r[g] = four_rows(low, high, g, index);
  turn_sixteen(r);
  alignas(64) std::array<std::uint8_t, 64> lanes{};
  for (int c = 0; c < 16; ++c) {
    _mm512_store_si512(lanes.data(), r[c]);
    for (int l = 0; l < 4; ++l) {
      const std::size_t k = static_cast<std::size_t>(16 * l + c);
      if (k >= count) continue;
      // A copy of constant size becomes one store.
      if (bytes == 16) {
        std::memcpy(out + k * stride, lanes.data() + 16 * l, 16);
      } else {
        std::memcpy(out + k * stride, lanes.data() + 16 * l, bytes);
      }
    }
  }
}

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool has_gfni() {
  static const bool supported = __builtin_cpu_supports("gfni") &&
                                __builtin_cpu_supports("avx512vbmi") &&
                                __builtin_cpu_supports("avx512bw");
  return supported;
}

#endif

}  // namespace

void write_code_columns_portable(const std::uint64_t* low, const std::uint64_t* high,
                                 std::size_t count, char* out, std::size_t stride,
                                 std::size_t bytes) {
  Square lows;
  Square highs;
  std::memcpy(lows.data(), low, sizeof lows);
  std::memcpy(highs.data(), high, sizeof highs);
  transpose(lows);
  transpose(highs);
  for (std::size_t k = 0; k < count; ++k) {
    const std::array<std::uint64_t, 2> codes{
        spread(static_cast<std::uint32_t>(lows[k])) |
            spread(static_cast<std::uint32_t>(highs[k])) << 1,
        spread(static_cast<std::uint32_t>(lows[k] >> 32)) |
            spread(static_cast<std::uint32_t>(highs[k] >> 32)) << 1};
    std::memcpy(out + k * stride, codes.data(), bytes);
  }
}

void write_code_columns(const std::uint64_t* low, const std::uint64_t* high, std::size_t count,
                        char* out, std::size_t stride, std::size_t bytes) {
#ifdef PEDSIM_HAS_GFNI_PATH
  if (has_gfni()) {
    write_code_columns_gfni(low, high, count, out, stride, bytes);
    return;
  }
#endif
  write_code_columns_portable(low, high, count, out, stride, bytes);
}

}  // namespace pedsim
