#include <gtest/gtest.h>

#include "core/breeding.hpp"
#include "core/founders.hpp"
#include "output/loss.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

TEST(LossThreshold, AgeFactorTimesSinglePrecisionStep) {
  const double expected[] = {0.10000000149011612, 0.20000000298023224, 0.30000000447034836,
                             0.4000000059604645,  0.5000000074505806,  0.6000000089406967,
                             0.7000000104308128,  0.800000011920929,   0.9000000134110451,
                             1.0000000149011612};
  auto t = test::make_run(9, 4, 2, 1);
  auto& run = t->run;
  for (std::int32_t k = 1; k <= 10; ++k) {
    run.IV7[1] = 10 - k;  // ngen 9: k = 9 - IV7 + 1
    EXPECT_EQ(loss_threshold(run, 1), expected[k - 1]) << "k " << k;
  }
}

struct MarginCase {
  std::int32_t k;
  bool just_above_tenth;  // draw just above k/10 (removed) or just above t (kept)
};

class LossMargin : public ::testing::TestWithParam<MarginCase> {};

TEST_P(LossMargin, DrawBetweenTheExactTenthAndTheThresholdRemoves) {
  const auto& c = GetParam();
  auto t = test::make_run(c.k - 1, 2, 1, 1);  // founder 1 has age factor k
  auto& run = t->run;
  run.IV51[1] = 1;
  run.IV52[1] = 2;
  const double threshold = loss_threshold(run, 1);
  const std::int32_t z =
      c.just_above_tenth ? test::first_z_above(c.k / 10.0) : test::first_z_above(threshold);
  if (c.just_above_tenth) {
    ASSERT_LE(UniformStream::to_uniform(z), threshold);
  }
  run.stream = test::stream_with_next_z(z);
  randomloss(run);
  EXPECT_EQ(run.VC[1], c.just_above_tenth ? 1 : 0);
  EXPECT_EQ(run.GE1[1], c.just_above_tenth ? 0 : 1);
  EXPECT_EQ(run.GE2[1], c.just_above_tenth ? 0 : 2);
}

INSTANTIATE_TEST_SUITE_P(AgeFactors, LossMargin,
                         ::testing::Values(MarginCase{1, true}, MarginCase{1, false},
                                           MarginCase{2, true}, MarginCase{2, false},
                                           MarginCase{5, true}, MarginCase{5, false},
                                           MarginCase{9, true}, MarginCase{9, false}));

TEST(Loss, ThresholdDrawItselfRemoves) {
  auto t = test::make_run(0, 1, 1, 1);
  auto& run = t->run;
  run.IV51[1] = 3;
  run.IV52[1] = 3;
  run.stream = test::stream_with_next_z(test::last_z_at_or_below(loss_threshold(run, 1)));
  randomloss(run);
  EXPECT_EQ(run.VC[1], 1);
}

TEST(Loss, FoundersOfNineOrMoreGenerationsAgoAlwaysLoseTheirRecord) {
  for (std::int32_t ngen : {9, 12}) {
    auto t = test::make_run(ngen, 200, 50, ngen);
    auto& run = t->run;
    create_founders(run);
    breed_generations(run);
    randomloss(run);
    for (std::int32_t i = 1; i <= run.n; ++i) ASSERT_EQ(run.VC[i], 1) << ngen << " " << i;
  }
}

TEST(Loss, OneDrawPerRowAndUnfilledRowsKeepZeros) {
  // 2 10 3: rows 23 and 24 are never filled.
  auto t = test::make_run(2, 10, 3, 107333);
  auto& run = t->run;
  create_founders(run);
  breed_generations(run);
  const auto before = run.stream.draws();
  UniformStream expected = run.stream;
  randomloss(run);
  EXPECT_EQ(run.stream.draws() - before, 24U);
  for (std::int32_t i = 1; i <= run.ntot; ++i) {
    const bool lost = expected.draw_uniform() <= loss_threshold(run, i);
    EXPECT_EQ(run.VC[i], lost ? 1 : 0) << i;
    EXPECT_EQ(run.GE1[i], lost ? 0 : run.IV51[i]);
    EXPECT_EQ(run.GE2[i], lost ? 0 : run.IV52[i]);
  }
  for (std::int32_t i : {23, 24}) {
    EXPECT_EQ(run.GE1[i], 0);
    EXPECT_EQ(run.GE2[i], 0);
  }
}

}  // namespace
}  // namespace pedsim

namespace pedsim {
namespace {

// Large tables are thinned in two halves side by side; the result must be
// that of one draw per row in row order, with rows already flagged left as
// they are.
TEST(Loss, TableThinnedInHalvesMatchesRowByRow) {
  auto halves = test::make_run(12, 100000, 10000, 31);
  auto literal = test::make_run(12, 100000, 10000, 31);
  for (auto* run : {&halves->run, &literal->run}) {
    ASSERT_GE(run->ntot, 1 << 18);
    for (std::int32_t i = 1; i <= run->ntot; ++i) {
      run->IV51[i] = 1 + i % 3;
      run->IV52[i] = 3;
      run->IV7[i] = i % 13;
      run->VC[i] = i % 101 == 0 ? 1 : 0;
    }
  }
  randomloss(halves->run);
  pedsim::Run& r = literal->run;
  for (std::int32_t i = 1; i <= r.ntot; ++i) {
    r.GE1[i] = r.IV51[i];
    r.GE2[i] = r.IV52[i];
  }
  for (std::int32_t i = 1; i <= r.ntot; ++i) {
    if (r.stream.draw_uniform() <= loss_threshold(r, i) && r.VC[i] == 0) {
      r.VC[i] = 1;
      r.GE1[i] = 0;
      r.GE2[i] = 0;
    }
  }
  const pedsim::Run& h = halves->run;
  for (std::int32_t i = 1; i <= r.ntot; ++i) {
    ASSERT_EQ(std::vector<std::int32_t>({h.VC[i], h.GE1[i], h.GE2[i]}),
              std::vector<std::int32_t>({r.VC[i], r.GE1[i], r.GE2[i]}))
        << "row " << i;
  }
  EXPECT_EQ(h.stream.s1(), r.stream.s1());
  EXPECT_EQ(h.stream.draws(), r.stream.draws());
}

}  // namespace
}  // namespace pedsim
