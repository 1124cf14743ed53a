#include <gtest/gtest.h>

#include <cmath>

#include "reference/literal.hpp"
#include "sim/founders.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

struct ClassCase {
  double x;
  Genotype genotype;
};

class FounderGenotype : public ::testing::TestWithParam<ClassCase> {};

TEST_P(FounderGenotype, DrawGivesGenotype) {
  EXPECT_EQ(FounderGenotypes(Model{}.allele_frequencies)(GetParam().x), GetParam().genotype)
      << GetParam().x;
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

TEST(CreateFounders, AllMaleWhenMalesEqualFounders) {
  test::State s(0, 7, 7, 0);
  create_founders(s.parameters, Model{}, s.pedigree, s.genotypes, s.stream, s.parents);
  EXPECT_EQ(s.parents.dams.size(), 0);
  EXPECT_EQ(s.pedigree.created(), 7);
  for (std::int32_t i = 1; i <= 7; ++i) EXPECT_EQ(s.pedigree.sex[i], kMale);
}

}  // namespace
}  // namespace pedsim

namespace pedsim {
namespace {

// Founders draw one number each, in founder order; many are drawn in blocks
// through the stream's lanes.
TEST(CreateFounders, BlocksOfDrawsMatchOneDrawEach) {
  test::State fast(0, 150000, 7000, 12);
  test::State literal(0, 150000, 7000, 12);
  create_founders(fast.parameters, Model{}, fast.pedigree, fast.genotypes, fast.stream,
                  fast.parents);
  reference::create_founders(literal.parameters, literal.pedigree, literal.genotypes,
                             literal.stream, literal.parents);
  for (std::int32_t i = 1; i <= 150000; ++i) {
    ASSERT_EQ(fast.genotypes.true_genotype(i), literal.genotypes.true_genotype(i)) << i;
    ASSERT_EQ(fast.pedigree.sex[i], literal.pedigree.sex[i]) << i;
  }
  EXPECT_EQ(fast.stream.s1(), literal.stream.s1());
  EXPECT_EQ(fast.stream.draws(), literal.stream.draws());
  EXPECT_TRUE(std::equal(fast.parents.dams.begin(), fast.parents.dams.end(),
                         literal.parents.dams.begin(), literal.parents.dams.end()));
}

}  // namespace
}  // namespace pedsim
