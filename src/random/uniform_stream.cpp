#include "random/uniform_stream.hpp"

#include <array>
#include <ctime>
#include <stdexcept>

#include "random/lanes.hpp"

namespace pedsim {

namespace {

// Brings a 32-bit value into 1..limit the way seeding does: 0 becomes the
// limit, a value above it is reduced by the limit once or, if still above,
// twice (modulo 2^32).
std::int32_t fold_into_range(std::uint32_t value, std::uint32_t limit) {
  std::uint32_t folded;
  if (value == 0) {
    folded = limit;
  } else if (value <= limit) {
    folded = value;
  } else if (value - limit <= limit) {
    folded = value - limit;
  } else {
    folded = value - 2 * limit;
  }
  return static_cast<std::int32_t>(folded);
}

std::uint64_t power_mod(std::uint64_t base, std::uint64_t exponent, std::uint64_t modulus) {
  std::uint64_t result = 1;
  base %= modulus;
  while (exponent > 0) {
    if (exponent & 1U) result = result * base % modulus;
    base = base * base % modulus;
    exponent >>= 1U;
  }
  return result;
}

// Below this size setting up the lanes costs more than it saves.
constexpr std::size_t kMinLaneFill = 4 * kLanes;

}  // namespace

UniformStream::UniformStream(std::int32_t s1, std::int32_t s2) : s1_(s1), s2_(s2) {
  if (s1 < 1 || s1 >= kM1 || s2 < 1 || s2 >= kM2) {
    throw std::invalid_argument("UniformStream: state out of range");
  }
}

void UniformStream::seed_from_sum(std::int32_t t) {
  // Shifts right are arithmetic: they copy the sign bit into the vacated bits.
  const auto ut = static_cast<std::uint32_t>(t);
  const std::uint32_t a = (ut << 16U) | static_cast<std::uint32_t>(t >> 16);
  const std::uint32_t b =
      (a << 4U) | static_cast<std::uint32_t>(static_cast<std::int32_t>(a) >> 28);
  s1_ = fold_into_range(a, static_cast<std::uint32_t>(kM1 - 1));
  s2_ = fold_into_range(b, static_cast<std::uint32_t>(kM2 - 1));
}

std::int32_t UniformStream::clock_sum() {
  // Wall-clock seconds plus processor time in microsecond ticks, added as
  // 32-bit integers with wrap-around.
  const auto seconds = static_cast<std::uint32_t>(std::time(nullptr));
  const auto ticks = static_cast<std::uint32_t>(std::clock());
  return static_cast<std::int32_t>(seconds + ticks);
}

void UniformStream::seed_from_clock() { seed_from_sum(clock_sum()); }

void UniformStream::jump(std::uint64_t steps) {
  const auto f1 = power_mod(kA1, steps, kM1);
  const auto f2 = power_mod(kA2, steps, kM2);
  s1_ = static_cast<std::int32_t>(static_cast<std::uint64_t>(s1_) * f1 % kM1);
  s2_ = static_cast<std::int32_t>(static_cast<std::uint64_t>(s2_) * f2 % kM2);
  draws_ += steps;
}

void UniformStream::fill_z(std::span<std::uint32_t> out) {
  const std::size_t n = out.size();
  if (n < kMinLaneFill) {
    for (auto& z : out) z = static_cast<std::uint32_t>(next_z());
    return;
  }
  const std::size_t chunk = n / kLanes;
  // Lane j starts j * chunk numbers ahead: each lane's start is the previous
  // one's times a^chunk, and the stream ends where a seventeenth would start.
  const std::uint64_t ahead1 = power_mod(kA1, chunk, kM1);
  const std::uint64_t ahead2 = power_mod(kA2, chunk, kM2);
  std::array<std::int32_t, kLanes> first1;
  std::array<std::int32_t, kLanes> first2;
  std::uint64_t s1 = static_cast<std::uint64_t>(s1_);
  std::uint64_t s2 = static_cast<std::uint64_t>(s2_);
  for (std::size_t j = 0; j < kLanes; ++j) {
    first1[j] = static_cast<std::int32_t>(s1);
    first2[j] = static_cast<std::int32_t>(s2);
    s1 = s1 * ahead1 % kM1;
    s2 = s2 * ahead2 % kM2;
  }
  run_lanes(first1.data(), first2.data(), out.data(), chunk);
  s1_ = static_cast<std::int32_t>(s1);
  s2_ = static_cast<std::int32_t>(s2);
  draws_ += kLanes * chunk;
  for (std::size_t i = kLanes * chunk; i < n; ++i) out[i] = static_cast<std::uint32_t>(next_z());
}

}  // namespace pedsim
