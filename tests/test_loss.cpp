#include <gtest/gtest.h>

#include "reference/literal.hpp"
#include "sim/genotype_loss.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

// Thresholds as the single-precision step gives them, worked out by hand.
TEST(LossThreshold, AgeFactorTimesSinglePrecisionStep) {
  const double expected[] = {0.10000000149011612, 0.20000000298023224, 0.30000000447034836,
                             0.4000000059604645,  0.5000000074505806,  0.6000000089406967,
                             0.7000000104308128,  0.800000011920929,   0.9000000134110451,
                             1.0000000149011612};
  for (std::int32_t k = 1; k <= 10; ++k) {
    // Of nine generations, one born in generation 10 - k has age factor k.
    EXPECT_EQ(loss_threshold(9, 10 - k, Model{}.loss_step), expected[k - 1]) << "k " << k;
  }
}

struct MarginCase {
  std::int32_t k;
  bool just_above_tenth;  // draw just above k/10 (removed) or just above t (kept)
};

class LossMargin : public ::testing::TestWithParam<MarginCase> {};

// One founder of age factor k, recorded 1/2: a draw between k/10 and the
// threshold removes its record, a draw just above the threshold keeps it.
TEST_P(LossMargin, DrawBetweenTheExactTenthAndTheThresholdRemoves) {
  const auto& c = GetParam();
  Pedigree pedigree(1);
  GenotypeStore genotypes(1, {Model{}.alleles()});
  pedigree.add_created(1);
  genotypes.marker(0).true_first[1] = 1;
  genotypes.marker(0).true_second[1] = 2;
  const double threshold = c.k * 0.10000000149011612;
  const std::int32_t z =
      c.just_above_tenth ? test::first_z_above(c.k / 10.0) : test::first_z_above(threshold);
  if (c.just_above_tenth) {
    ASSERT_LE(UniformStream::to_uniform(z), threshold);
  }
  UniformStream stream = test::stream_with_next_z(z);
  HelperThread helper;
  lose_genotypes(c.k - 1, Model{}, pedigree, genotypes, stream, helper);
  EXPECT_EQ(genotypes.lost[1], c.just_above_tenth ? 1 : 0);
  const Genotype expected = c.just_above_tenth ? Genotype{} : Genotype{1, 2};
  EXPECT_EQ(genotypes.recorded_genotype(1), expected);
  EXPECT_EQ(stream.draws(), 1U);
}

INSTANTIATE_TEST_SUITE_P(AgeFactors, LossMargin,
                         ::testing::Values(MarginCase{1, true}, MarginCase{1, false},
                                           MarginCase{2, true}, MarginCase{2, false},
                                           MarginCase{5, true}, MarginCase{5, false},
                                           MarginCase{9, true}, MarginCase{9, false}));

// Large tables are done in two halves side by side; the result must be that
// of one draw per row in row order, with rows already flagged left as they
// are.
TEST(Loss, TableInHalvesMatchesTheLiteralLoop) {
  test::State halves(12, 100000, 10000, 31);
  test::State literal(12, 100000, 10000, 31);
  const std::int32_t rows = halves.pedigree.rows();
  ASSERT_GE(rows, 1 << 18);
  for (test::State* s : {&halves, &literal}) {
    s->pedigree.add_created(rows);
    for (std::int32_t i = 1; i <= rows; ++i) {
      s->genotypes.marker(0).true_first[i] = static_cast<std::int8_t>(1 + i % 3);
      s->genotypes.marker(0).true_second[i] = 3;
      s->pedigree.born[i] = i % 13;
      s->genotypes.lost[i] = i % 101 == 0 ? 1 : 0;
    }
  }
  HelperThread helper;
  lose_genotypes(12, Model{}, halves.pedigree, halves.genotypes, halves.stream, helper);
  reference::lose_genotypes(12, literal.pedigree, literal.genotypes, literal.stream);
  const GenotypeStore& h = halves.genotypes;
  const GenotypeStore& r = literal.genotypes;
  for (std::int32_t i = 1; i <= rows; ++i) {
    ASSERT_EQ(h.lost[i], r.lost[i]) << "row " << i;
    ASSERT_EQ(h.recorded_genotype(i), r.recorded_genotype(i)) << "row " << i;
  }
  EXPECT_EQ(halves.stream.s1(), literal.stream.s1());
  EXPECT_EQ(halves.stream.s2(), literal.stream.s2());
  EXPECT_EQ(halves.stream.draws(), literal.stream.draws());
}

}  // namespace
}  // namespace pedsim
