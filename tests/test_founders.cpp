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

TEST(CreateFounders, SexesListsAndOneDrawEach) {
  auto t = test::make_run(0, 5, 2, 74565);
  auto& run = t->run;
  UniformStream expected = run.stream;
  create_founders(run);
  EXPECT_EQ(run.stream.draws(), 5U);
  for (std::int32_t i = 1; i <= 5; ++i) {
    EXPECT_EQ(run.IV1[i], i);
    EXPECT_EQ(run.IV4[i], i <= 2 ? 1 : 2);
    EXPECT_EQ(run.IV2[i], 0);
    EXPECT_EQ(run.IV3[i], 0);
    EXPECT_EQ(run.IV7[i], 0);
    const Genotype g = founder_genotype(expected.draw_uniform());
    EXPECT_EQ(run.IV51[i], g.first);
    EXPECT_EQ(run.IV52[i], g.second);
  }
  EXPECT_EQ(std::vector<std::int32_t>(run.IS.begin(), run.IS.end()),
            (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ(std::vector<std::int32_t>(run.ID.begin(), run.ID.end()),
            (std::vector<std::int32_t>{3, 4, 5}));
}

TEST(CreateFounders, AllMaleWhenMaleEqualsN) {
  auto t = test::make_run(0, 7, 7, 0);
  create_founders(t->run);
  EXPECT_EQ(t->run.ID.size(), 0);
  for (std::int32_t i = 1; i <= 7; ++i) EXPECT_EQ(t->run.IV4[i], 1);
}

}  // namespace
}  // namespace pedsim
