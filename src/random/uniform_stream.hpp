#pragma once

#include <cstdint>

namespace pedsim {

// The one uniform pseudo-random stream of a run: L'Ecuyer's (1988) combined
// multiplicative generator, two Lehmer components with prime moduli combined
// by difference. Each component is stepped with Schrage's decomposition, so
// no intermediate value leaves the 32-bit signed range.
class UniformStream {
 public:
  static constexpr std::int32_t kM1 = 2147483563;
  static constexpr std::int32_t kM2 = 2147483399;
  static constexpr std::int32_t kA1 = 40014;
  static constexpr std::int32_t kA2 = 40692;
  // The double nearest to 4.65661305739176e-10, exactly 2251799902814207 / 2^82;
  // slightly below 1 / kM1. Every number drawn is z * kScale, z in 1..kM1-1.
  static constexpr double kScale = 4.65661305739176e-10;
  static constexpr std::int32_t kZMax = kM1 - 1;

  // The state before any seeding.
  UniformStream() = default;
  // A stream in a chosen state; s1 in 1..kM1-1 and s2 in 1..kM2-1, else
  // std::invalid_argument.
  UniformStream(std::int32_t s1, std::int32_t s2);

  // Seeds from a clock sum t (wall-clock seconds plus processor ticks, added
  // with 32-bit wrap-around), exactly as seeding from the clocks would.
  void seed_from_sum(std::int32_t t);
  // Reads both clocks once and seeds from their sum.
  void seed_from_clock();
  // The clock sum that seed_from_clock uses right now.
  static std::int32_t clock_sum();

  // Advances the state one step and returns the integer z (1..kZMax) behind
  // the next number. z orders and equates numbers exactly like the doubles.
  std::int32_t next_z() {
    std::int32_t k = s1_ / 53668;
    s1_ = kA1 * (s1_ - k * 53668) - 12211 * k;
    if (s1_ < 0) s1_ += kM1;
    k = s2_ / 52774;
    s2_ = kA2 * (s2_ - k * 52774) - 3791 * k;
    if (s2_ < 0) s2_ += kM2;
    std::int32_t z = s1_ - s2_;
    if (z <= 0) z += kZMax;
    ++draws_;
    return z;
  }

  // The next number of the stream, strictly between 0 and 1.
  double draw_uniform() { return to_uniform(next_z()); }

  static double to_uniform(std::int32_t z) { return static_cast<double>(z) * kScale; }

  // Moves the stream `steps` numbers ahead at once, exactly as that many draws
  // would (each component is a multiplicative congruential generator, so k
  // steps ahead is a multiplication by a^k mod m).
  void jump(std::uint64_t steps);

  std::int32_t s1() const { return s1_; }
  std::int32_t s2() const { return s2_; }
  // Numbers drawn (or jumped over) since construction.
  std::uint64_t draws() const { return draws_; }

 private:
  std::int32_t s1_ = 2147483562;
  std::int32_t s2_ = 2147483398;
  std::uint64_t draws_ = 0;
};

}  // namespace pedsim
