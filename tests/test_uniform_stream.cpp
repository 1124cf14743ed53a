#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "random/draw_blocks.hpp"
#include "random/lanes.hpp"
#include "random/uniform_stream.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

TEST(UniformStream, ScaleIsTheDesignatedDouble) {
  EXPECT_EQ(UniformStream::kScale, std::ldexp(2251799902814207.0, -82));
  EXPECT_LT(UniformStream::kScale, 1.0 / UniformStream::kM1);
}

struct StepCase {
  std::int32_t s1, s2;
  std::int32_t next_s1, next_s2, z;
};

class StreamStep : public ::testing::TestWithParam<StepCase> {};

TEST_P(StreamStep, OneDrawFromAChosenState) {
  const auto& c = GetParam();
  UniformStream stream(c.s1, c.s2);
  EXPECT_EQ(UniformStream::to_uniform(stream.next_z()), static_cast<double>(c.z) * UniformStream::kScale);
  EXPECT_EQ(stream.s1(), c.next_s1);
  EXPECT_EQ(stream.s2(), c.next_s2);
  EXPECT_EQ(stream.draws(), 1U);
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, StreamStep,
                         ::testing::Values(StepCase{1, 1, 40014, 40692, 2147482884},
                                           StepCase{12345, 67890, 493972830, 615096481,
                                                    2026359911}));

struct SeedCase {
  std::int32_t t;
  std::int32_t s1, s2;
};

class Seeding : public ::testing::TestWithParam<SeedCase> {};

TEST_P(Seeding, ClockSumGivesState) {
  UniformStream stream;
  stream.seed_from_sum(GetParam().t);
  EXPECT_EQ(stream.s1(), GetParam().s1);
  EXPECT_EQ(stream.s2(), GetParam().s2);
  EXPECT_EQ(stream.draws(), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, Seeding,
    ::testing::Values(SeedCase{74565, 591724545, 877658130}, SeedCase{107333, 591724631, 494},
                      SeedCase{0, 2147483562, 2147483398},
                      // -1: a = 0xFFFFFFFF folds twice to 171; b = -1 likewise to 499.
                      SeedCase{-1, 171, 499},
                      // Worked by hand: every t from -11272192 (0xFF540000) to -11206657
                      // (0xFF54FFFF) gives a = 0xFFFFFF54, exactly twice the first range's
                      // top 2147483562: folded once it is that top, never 0. Just outside,
                      // a = 0xFFFFFF53 folds once and a = 0xFFFFFF55 twice. b is -1 for all.
                      SeedCase{-11272193, 2147483561, 499}, SeedCase{-11272192, 2147483562, 499},
                      SeedCase{-11206657, 2147483562, 499}, SeedCase{-11206656, 1, 499}));

TEST(UniformStream, NoDrawIsZeroOrOneFromEdgeStates) {
  const std::int32_t top1 = UniformStream::kM1 - 1;
  const std::int32_t top2 = UniformStream::kM2 - 1;
  std::vector<UniformStream> streams{{1, 1}, {top1, top2}, {1, top2}, {top1, 1}, {top2, top2}};
  for (std::int32_t t : {INT_MIN, INT_MAX, -1, 0, 1, 32768, 65535}) {
    UniformStream s;
    s.seed_from_sum(t);
    streams.push_back(s);
  }
  for (auto& stream : streams) {
    for (int i = 0; i < 20000; ++i) {
      const std::int32_t z = stream.next_z();
      ASSERT_GE(z, 1);
      ASSERT_LE(z, UniformStream::kZMax);
    }
  }
  EXPECT_GT(UniformStream::to_uniform(1), 0.0);
  EXPECT_LT(UniformStream::to_uniform(UniformStream::kZMax), 1.0);
}

TEST(UniformStream, QuarterPointsAreNeverDrawn) {
  for (double q : {0.25, 0.5, 0.75}) {
    const auto below = test::last_z_at_or_below(q);
    EXPECT_LT(UniformStream::to_uniform(below), q);
    EXPECT_GT(UniformStream::to_uniform(below + 1), q);
  }
}

TEST(UniformStream, JumpEqualsSteppingOneDrawAtATime) {
  for (std::uint64_t steps : {0ULL, 1ULL, 2ULL, 999ULL, 123457ULL}) {
    UniformStream stepped(12345, 67890);
    UniformStream jumped = stepped;
    for (std::uint64_t i = 0; i < steps; ++i) stepped.next_z();
    jumped.jump(steps);
    EXPECT_EQ(jumped.s1(), stepped.s1()) << steps;
    EXPECT_EQ(jumped.s2(), stepped.s2()) << steps;
    EXPECT_EQ(jumped.draws(), steps);
    EXPECT_EQ(jumped.next_z(), stepped.next_z());
  }
}

TEST(UniformStream, FillEqualsSteppingOneDrawAtATime) {
  for (std::size_t n : {0UL, 1UL, 63UL, 64UL, 65UL, 1000UL, 100003UL}) {
    UniformStream stepped;
    stepped.seed_from_sum(static_cast<std::int32_t>(n) - 7);
    UniformStream filled = stepped;
    std::vector<std::uint32_t> expected(n);
    for (auto& z : expected) z = static_cast<std::uint32_t>(stepped.next_z());
    std::vector<std::uint32_t> got(n);
    filled.fill_z(got);
    ASSERT_EQ(got, expected) << n;
    EXPECT_EQ(filled.draws(), stepped.draws());
    EXPECT_EQ(filled.next_z(), stepped.next_z());
  }
}

// Numbers drawn ahead block by block are those of the stream in order, and
// finishing leaves the stream just after the last one used: none used, some
// of a block, exactly one block, several.
TEST(DrawnAhead, HandsOutTheStreamInOrderAndFinishesWhereItStopped) {
  for (std::size_t used : {0UL, 5UL, 16384UL, 40000UL}) {
    UniformStream stepped;
    stepped.seed_from_sum(static_cast<std::int32_t>(used) + 3);
    UniformStream ahead_stream = stepped;
    DrawnAhead ahead(ahead_stream);
    for (std::size_t i = 0; i < used; ++i) ASSERT_EQ(ahead.next_uniform(), UniformStream::to_uniform(stepped.next_z()));
    ahead.finish();
    EXPECT_EQ(ahead_stream.draws(), stepped.draws()) << used;
    EXPECT_EQ(ahead_stream.next_z(), stepped.next_z()) << used;
  }
}

// The state s with s x a = v (mod m): v times a^(m-2), a's inverse.
std::int32_t preimage(std::int64_t v, std::int64_t a, std::int64_t m) {
  std::int64_t inverse = 1;
  for (std::int64_t e = m - 2, b = a; e > 0; e >>= 1, b = b * b % m) {
    if (e & 1) inverse = inverse * b % m;
  }
  return static_cast<std::int32_t>(v * inverse % m);
}

// Both ways of stepping lanes, the vector one this processor may choose and
// the portable one, give each lane's numbers as stepping it one draw at a
// time does, for chunks with and without a remainder of four steps.
TEST(Lanes, EveryWayEqualsSteppingEachLane) {
  using Lanes = void (*)(const std::int32_t*, const std::int32_t*, std::uint32_t*, std::size_t);
  for (const Lanes lanes : {&run_lanes, &run_lanes_portably}) {
    for (std::size_t chunk : {1UL, 4UL, 7UL, 1001UL}) {
      std::int32_t first1[kLanes];
      std::int32_t first2[kLanes];
      std::vector<std::uint32_t> expected(kLanes * chunk);
      // The first four lanes start at the corners of the state space; the
      // fifth where its first step makes both components 12345 (z wraps to
      // its largest value).
      const std::int32_t corners[5][2] = {
          {1, 1},
          {UniformStream::kM1 - 1, UniformStream::kM2 - 1},
          {1, UniformStream::kM2 - 1},
          {UniformStream::kM1 - 1, 1},
          {preimage(12345, UniformStream::kA1, UniformStream::kM1),
           preimage(12345, UniformStream::kA2, UniformStream::kM2)}};
      for (std::size_t j = 0; j < kLanes; ++j) {
        UniformStream lane;
        lane.seed_from_sum(static_cast<std::int32_t>(j * 7919 + chunk) - 40000);
        if (j < 5) lane = UniformStream(corners[j][0], corners[j][1]);
        first1[j] = lane.s1();
        first2[j] = lane.s2();
        for (std::size_t i = 0; i < chunk; ++i) {
          expected[j * chunk + i] = static_cast<std::uint32_t>(lane.next_z());
        }
      }
      std::vector<std::uint32_t> got(kLanes * chunk);
      lanes(first1, first2, got.data(), chunk);
      ASSERT_EQ(got, expected) << chunk;
    }
  }
}

}  // namespace
}  // namespace pedsim
