#include "random/lanes.hpp"

#include "platform/cpu_dispatch.hpp"
#include "random/uniform_stream.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define PEDSIM_HAVE_AVX2_LANES 1
#endif

namespace pedsim {

// Schrage's steps in 32-bit integers; the lanes do not depend on each other,
// so the loop vectorises.
PEDSIM_CPU_DISPATCH
void run_lanes_portably(const std::int32_t* first1, const std::int32_t* first2, std::uint32_t* out,
                        std::size_t chunk) {
  std::int32_t s1[kLanes];
  std::int32_t s2[kLanes];
  for (std::size_t j = 0; j < kLanes; ++j) {
    s1[j] = first1[j];
    s2[j] = first2[j];
  }
  for (std::size_t i = 0; i < chunk; ++i) {
    for (std::size_t j = 0; j < kLanes; ++j) {
      s1[j] = UniformStream::step1(s1[j]);
      s2[j] = UniformStream::step2(s2[j]);
      out[j * chunk + i] = static_cast<std::uint32_t>(UniformStream::combine(s1[j], s2[j]));
    }
  }
}

namespace {

#ifdef PEDSIM_HAVE_AVX2_LANES
// The same lanes, four to a vector of doubles. A step s * a mod m is exact in
// double precision: s * a is below 2^47, the floor of its product with 1/m is
// the exact quotient (the product's error, below 2^-36, is far smaller than
// the distance of s * a / m from an integer, at least 1/m, m being prime),
// and the remainder is then exact too. So it equals Schrage's steps, while
// running at the speed of vector multiplication.
struct Generator {
  __m256d a, m, inverse;
};

__attribute__((target("avx2,fma"))) inline __m256d step_exactly(__m256d s, const Generator& g) {
  const __m256d product = _mm256_mul_pd(s, g.a);
  const __m256d quotient = _mm256_floor_pd(_mm256_mul_pd(product, g.inverse));
  return _mm256_fnmadd_pd(quotient, g.m, product);
}

// z = s1 - s2 brought into 1..kZMax: with w = s1 - s2 - 1, in (-kZMax, kZMax),
// z = w - floor(w / kZMax) * kZMax + 1.
__attribute__((target("avx2,fma"))) inline __m128i combine_exactly(__m256d s1, __m256d s2) {
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d z_max = _mm256_set1_pd(UniformStream::kZMax);
  const __m256d w = _mm256_sub_pd(_mm256_sub_pd(s1, s2), one);
  const __m256d wraps =
      _mm256_floor_pd(_mm256_mul_pd(w, _mm256_set1_pd(1.0 / UniformStream::kZMax)));
  return _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_fnmadd_pd(wraps, z_max, w), one));
}

__attribute__((target("avx2,fma"))) void run_lanes_avx2(const std::int32_t* first1,
                                                        const std::int32_t* first2,
                                                        std::uint32_t* out, std::size_t chunk) {
  constexpr std::size_t kVectors = kLanes / 4;
  const Generator g1{_mm256_set1_pd(UniformStream::kA1), _mm256_set1_pd(UniformStream::kM1),
                     _mm256_set1_pd(1.0 / UniformStream::kM1)};
  const Generator g2{_mm256_set1_pd(UniformStream::kA2), _mm256_set1_pd(UniformStream::kM2),
                     _mm256_set1_pd(1.0 / UniformStream::kM2)};
  __m256d s1[kVectors];
  __m256d s2[kVectors];
  for (std::size_t v = 0; v < kVectors; ++v) {
    s1[v] = _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first1 + 4 * v)));
    s2[v] = _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first2 + 4 * v)));
  }
  // Four steps of four lanes make a 4 x 4 block, turned so that each lane's
  // four numbers are stored together.
  std::size_t i = 0;
  for (; i + 4 <= chunk; i += 4) {
    // The vectors are stepped in turn, so that their chains of dependent
    // steps overlap.
    __m128 block[kVectors][4];
    for (std::size_t step = 0; step < 4; ++step) {
      for (std::size_t v = 0; v < kVectors; ++v) {
        s1[v] = step_exactly(s1[v], g1);
        s2[v] = step_exactly(s2[v], g2);
        block[v][step] = _mm_castsi128_ps(combine_exactly(s1[v], s2[v]));
      }
    }
    for (std::size_t v = 0; v < kVectors; ++v) {
      _MM_TRANSPOSE4_PS(block[v][0], block[v][1], block[v][2], block[v][3]);
      for (std::size_t k = 0; k < 4; ++k) {
        _mm_storeu_ps(reinterpret_cast<float*>(out + (4 * v + k) * chunk + i), block[v][k]);
      }
    }
  }
  for (; i < chunk; ++i) {
    for (std::size_t v = 0; v < kVectors; ++v) {
      s1[v] = step_exactly(s1[v], g1);
      s2[v] = step_exactly(s2[v], g2);
      alignas(16) std::uint32_t z[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(z), combine_exactly(s1[v], s2[v]));
      for (std::size_t k = 0; k < 4; ++k) out[(4 * v + k) * chunk + i] = z[k];
    }
  }
}

bool has_avx2_lanes() {
  static const bool available = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return available;
}
#endif

}  // namespace

void run_lanes(const std::int32_t* first1, const std::int32_t* first2, std::uint32_t* out,
               std::size_t chunk) {
#ifdef PEDSIM_HAVE_AVX2_LANES
  if (has_avx2_lanes()) {
    run_lanes_avx2(first1, first2, out, chunk);
    return;
  }
#endif
  run_lanes_portably(first1, first2, out, chunk);
}

}  // namespace pedsim
