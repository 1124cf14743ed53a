#pragma once

#include <cstdint>
#include <span>

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

  // One step of each component by Schrage's decomposition.
  static std::int32_t step1(std::int32_t s) {
    const std::int32_t k = s / 53668;
    s = kA1 * (s - k * 53668) - 12211 * k;
    return s < 0 ? s + kM1 : s;
  }
  static std::int32_t step2(std::int32_t s) {
    const std::int32_t k = s / 52774;
    s = kA2 * (s - k * 52774) - 3791 * k;
    return s < 0 ? s + kM2 : s;
  }
  // The integer behind a number: the difference of the two components,
  // brought into 1..kZMax.
  static std::int32_t combine(std::int32_t s1, std::int32_t s2) {
    const std::int32_t z = s1 - s2;
    return z <= 0 ? z + kZMax : z;
  }

  // Advances the state one step and returns the integer z (1..kZMax) behind
  // the next number. z orders and equates numbers exactly like the doubles.
  std::int32_t next_z() {
    s1_ = step1(s1_);
    s2_ = step2(s2_);
    ++draws_;
    return combine(s1_, s2_);
  }

  // Fills `out` with the integers of the next out.size() draws, in order,
  // exactly as that many next_z calls would, and advances the stream past
  // them. Long fills run independent jumped-ahead lanes side by side.
  void fill_z(std::span<std::uint32_t> out);

  static double to_uniform(std::int32_t z) { return static_cast<double>(z) * kScale; }

  // Moves the stream `steps` numbers ahead at once, exactly as that many draws
  // would (each component is a multiplicative congruential generator, so k
  // steps ahead is a multiplication by a^k mod m).
  void jump(std::uint64_t steps);

  // Moves the stream to the start of replicate `replicate`: `stride`
  // numbers ahead per replicate.
  void jump_to_replicate(std::int32_t replicate, std::uint64_t stride) {
    jump(static_cast<std::uint64_t>(replicate) * stride);
  }

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
