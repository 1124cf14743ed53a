#include <gtest/gtest.h>

#include <cmath>

#include "core/founders.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

struct ClassCase {
  double x;
  Genotype genotype;
};

class FounderGenotype : public ::testing::TestWithParam<ClassCase> {};

TEST_P(FounderGenotype, DrawGivesGenotype) {
  EXPECT_EQ(founder_genotype(GetParam().x), GetParam().genotype) << GetParam().x;
}

double above(double x) { return std::nextafter(x, 2.0); }

INSTANTIATE_TEST_SUITE_P(
    Boundaries, FounderGenotype,
    ::testing::Values(
        ClassCase{UniformStream::to_uniform(1), {1, 1}}, ClassCase{0.1111111119389534, {1, 1}},
        ClassCase{above(0.1111111119389534), {1, 2}}, ClassCase{0.3333333432674408, {1, 2}},
        // Above the exact 1/3 but not above its threshold.
        ClassCase{0.33333334, {1, 2}}, ClassCase{above(0.3333333432674408), {1, 3}},
        ClassCase{0.5, {1, 3}}, ClassCase{0.5555555820465088, {1, 3}},
        ClassCase{above(0.5555555820465088), {2, 2}}, ClassCase{0.66666668, {2, 2}},
        ClassCase{0.6666666865348816, {2, 2}}, ClassCase{above(0.6666666865348816), {2, 3}},
        ClassCase{0.8888888955116272, {2, 3}}, ClassCase{above(0.8888888955116272), {3, 3}},
        ClassCase{UniformStream::to_uniform(UniformStream::kZMax), {3, 3}}));

struct FoundersCase {
  std::int32_t n, male, seed;
};

class CreateFounders : public ::testing::TestWithParam<FoundersCase> {};

// Founders draw one number each, in founder order; long runs draw them in
// blocks through the stream's lanes.
TEST_P(CreateFounders, SexesListsAndOneDrawEach) {
  const auto& c = GetParam();
  auto t = test::make_run(0, c.n, c.male, c.seed);
  auto& run = t->run;
  UniformStream expected = run.stream;
  create_founders(run);
  EXPECT_EQ(run.stream.draws(), static_cast<std::uint64_t>(c.n));
  for (std::int32_t i = 1; i <= c.n; ++i) {
    const Genotype g = founder_genotype(expected.draw_uniform());
    ASSERT_EQ(std::vector<std::int32_t>({run.IV1[i], run.IV4[i], run.IV2[i], run.IV3[i], run.IV7[i],
                                         run.IV51[i], run.IV52[i]}),
              std::vector<std::int32_t>({i, i <= c.male ? 1 : 2, 0, 0, 0, g.first, g.second}))
        << "founder " << i;
  }
  EXPECT_EQ(run.stream.s1(), expected.s1());
  for (std::int32_t k = 1; k <= c.male; ++k) ASSERT_EQ(run.IS[k], k);
  for (std::int32_t k = 1; k <= c.n - c.male; ++k) ASSERT_EQ(run.ID[k], c.male + k);
}

INSTANTIATE_TEST_SUITE_P(Runs, CreateFounders,
                         ::testing::Values(FoundersCase{5, 2, 74565},
                                           FoundersCase{150000, 7000, 12}));

TEST(CreateFoundersAllMale, WhenMaleEqualsN) {
  auto t = test::make_run(0, 7, 7, 0);
  create_founders(t->run);
  EXPECT_EQ(t->run.ID.size(), 0);
  for (std::int32_t i = 1; i <= 7; ++i) EXPECT_EQ(t->run.IV4[i], 1);
}

}  // namespace
}  // namespace pedsim
