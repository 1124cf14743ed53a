#include "platform/positions_below.hpp"

#include <bit>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define PEDSIM_HAVE_AVX2_PATH 1
#endif

namespace pedsim {

namespace {

// One key at a time without a branch: the position is always written, and
// kept by counting it only when its key is below the limit.
std::size_t positions_below_scalar(std::span<const std::uint32_t> keys, std::size_t first,
                                   std::uint32_t limit, std::uint32_t* out, std::size_t count) {
  for (std::size_t i = first; i < keys.size(); ++i) {
    out[count] = static_cast<std::uint32_t>(i);
    count += keys[i] < limit ? 1 : 0;
  }
  return count;
}

#ifdef PEDSIM_HAVE_AVX2_PATH
// Flags of the eight keys at p below the limit; the vectors compare signed
// integers, so the keys and the limit have their sign bit flipped.
__attribute__((target("avx2"))) inline std::uint32_t below8(const std::uint32_t* p,
                                                            __m256i flipped_limit) {
  const __m256i flip = _mm256_set1_epi32(static_cast<int>(0x80000000U));
  const __m256i k = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), flip);
  return static_cast<std::uint32_t>(
      _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(flipped_limit, k))));
}

// 32 keys at a time into a mask of 32 flags; the set flags, a small share
// when few keys are kept, are then visited one by one.
__attribute__((target("avx2,bmi"))) std::size_t positions_below_avx2(
    std::span<const std::uint32_t> keys, std::uint32_t limit, std::uint32_t* out) {
  const __m256i bound = _mm256_set1_epi32(static_cast<int>(limit ^ 0x80000000U));
  std::size_t count = 0;
  std::size_t i = 0;
  for (; i + 32 <= keys.size(); i += 32) {
    const std::uint32_t* p = keys.data() + i;
    std::uint32_t mask = below8(p, bound) | (below8(p + 8, bound) << 8) |
                         (below8(p + 16, bound) << 16) | (below8(p + 24, bound) << 24);
    for (; mask != 0; mask &= mask - 1) {
      out[count++] =
          static_cast<std::uint32_t>(i) + static_cast<std::uint32_t>(std::countr_zero(mask));
    }
  }
  return positions_below_scalar(keys, i, limit, out, count);
}

bool has_avx2() {
  static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi");
  return avx2;
}
#endif

}  // namespace

std::size_t positions_below(std::span<const std::uint32_t> keys, std::uint32_t limit,
                            std::uint32_t* out) {
#ifdef PEDSIM_HAVE_AVX2_PATH
  if (has_avx2()) return positions_below_avx2(keys, limit, out);
#endif
  return positions_below_scalar(keys, 0, limit, out, 0);
}

}  // namespace pedsim
