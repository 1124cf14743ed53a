#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "core/breeding.hpp"
#include "core/founders.hpp"
#include "output/loss.hpp"
#include "output/output_pass.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

TEST(ReplacementAllele, QuartersWithOnlyTheLastBoundaryGoingUp) {
  const std::vector<std::pair<double, std::int32_t>> cases{
      {UniformStream::to_uniform(1), 1},
      {0.25, 1},
      {std::nextafter(0.25, 1.0), 2},
      {0.5, 2},
      {std::nextafter(0.5, 1.0), 3},
      {std::nextafter(0.75, 0.0), 3},
      {0.75, 4},
      {0.8, 4},
      {UniformStream::to_uniform(UniformStream::kZMax), 4}};
  for (const auto& [y, allele] : cases) EXPECT_EQ(replacement_allele(y), allele) << y;
}

// Rows: 1 and 2 ungenotyped founders, 3 a genotyped founder, then offspring.
struct CandidateCase {
  std::int32_t ge1, sire, dam;
  bool candidate;
};

class Candidate : public ::testing::TestWithParam<CandidateCase> {};

TEST_P(Candidate, GenotypedWithBothParentsKnownAndUngenotyped) {
  auto t = test::make_run(0, 5, 5, 1);
  auto& run = t->run;
  run.GE1[3] = 2;
  run.GE1[4] = GetParam().ge1;
  run.IV2[4] = GetParam().sire;
  run.IV3[4] = GetParam().dam;
  EXPECT_EQ(is_error_candidate(run, 4), GetParam().candidate);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Candidate,
    ::testing::Values(CandidateCase{1, 1, 2, true}, CandidateCase{0, 1, 2, false},
                      CandidateCase{1, 0, 2, false}, CandidateCase{1, 1, 0, false},
                      CandidateCase{1, 3, 2, false}, CandidateCase{1, 1, 3, false},
                      CandidateCase{1, 0, 0, false}));

// Founders 1 and 2 ungenotyped; animal 3 their offspring, recorded as `old`/3.
struct Pass {
  std::unique_ptr<test::TestRun> t;
  test::TempDir dir;
};

std::unique_ptr<Pass> one_candidate(std::int32_t old) {
  auto p = std::make_unique<Pass>();
  p->t = test::make_run(0, 3, 3, 1);
  auto& run = p->t->run;
  for (std::int32_t i = 1; i <= 3; ++i) run.IV4[i] = 1;
  run.IV2[3] = 1;
  run.IV3[3] = 2;
  run.GE1[3] = old;
  run.GE2[3] = 3;
  open_output_files(run.files, p->dir.str());
  return p;
}

// A seeded stream whose first draws satisfy `wanted`.
UniformStream stream_where(const std::function<bool(UniformStream&)>& wanted) {
  for (std::int32_t seed = 0;; ++seed) {
    UniformStream s;
    s.seed_from_sum(seed);
    UniformStream probe = s;
    if (wanted(probe)) return s;
  }
}

TEST(OutputPass, ReplacementIsReportedOnTheConsoleAndInPedErrors) {
  auto p = one_candidate(1);
  auto& run = p->t->run;
  run.stream = stream_where(
      [](UniformStream& s) { return s.draw_uniform() <= 0.5 && s.draw_uniform() > 0.75; });
  output_pass(run);
  EXPECT_EQ(run.stream.draws(), 2U);
  EXPECT_EQ(run.GE1[3], 4);
  EXPECT_EQ(p->t->console.captured(),
            " n\xB0 of founders=           3\n n\xB0 of animals=           3\n           3\n");
  EXPECT_EQ(test::read_file(p->dir.path() / "ped.errors"), "       3       1\n");
  EXPECT_EQ(test::split_lines(test::read_file(p->dir.path() / "ped.pre"))[2],
            "       3       1       2       1       4       3");
}

TEST(OutputPass, ReplacementEqualToTheOldAlleleIsReportedNowhere) {
  auto p = one_candidate(2);
  auto& run = p->t->run;
  run.stream = stream_where([](UniformStream& s) {
    const double x = s.draw_uniform();
    const double y = s.draw_uniform();
    return x <= 0.5 && y > 0.25 && y <= 0.5;
  });
  output_pass(run);
  EXPECT_EQ(run.stream.draws(), 2U);
  EXPECT_EQ(run.GE1[3], 2);
  EXPECT_EQ(test::split_lines(p->t->console.captured()).size(), 2U);
  EXPECT_EQ(test::read_file(p->dir.path() / "ped.errors"), "");
}

TEST(OutputPass, FirstDrawAboveHalfKeepsTheValueAndDrawsOnce) {
  auto p = one_candidate(3);
  auto& run = p->t->run;
  run.stream = stream_where([](UniformStream& s) { return s.draw_uniform() > 0.5; });
  output_pass(run);
  EXPECT_EQ(run.stream.draws(), 1U);
  EXPECT_EQ(run.GE1[3], 3);
}

TEST(OutputPass, ReplacementIsNotReorderedAgainstTheSecondAllele) {
  auto p = one_candidate(1);
  auto& run = p->t->run;
  run.GE2[3] = 2;
  run.stream = stream_where([](UniformStream& s) {
    const double x = s.draw_uniform();
    const double y = s.draw_uniform();
    return x <= 0.5 && y > 0.5 && y < 0.75;
  });
  output_pass(run);
  EXPECT_EQ(run.GE1[3], 3);
  EXPECT_EQ(run.GE2[3], 2);
}

// A whole seeded run, in-process.
std::unique_ptr<test::TestRun> bred_and_thinned(std::int32_t ngen, std::int32_t n,
                                                std::int32_t male, std::int32_t seed) {
  auto t = test::make_run(ngen, n, male, seed);
  create_founders(t->run);
  breed_generations(t->run);
  randomloss(t->run);
  return t;
}

TEST(OutputPass, FoundersOnlyDrawNothing) {
  auto t = bred_and_thinned(0, 7, 7, 0);
  test::TempDir dir;
  open_output_files(t->run.files, dir.str());
  const auto before = t->run.stream.draws();
  output_pass(t->run);
  EXPECT_EQ(t->run.stream.draws(), before);
  EXPECT_EQ(test::read_file(dir.path() / "ped.errors"), "");
  EXPECT_EQ(test::split_lines(test::read_file(dir.path() / "ped.pre")).size(), 7U);
}

// Large runs format their records in chunks on two threads; the file must
// still hold every record once, in row order, as the final table has it.
TEST(OutputPass, RecordsFormattedOnTwoThreadsMatchTheTableRowByRow) {
  auto t = bred_and_thinned(2, 100000, 10000, 8080);
  auto& run = t->run;
  ASSERT_GE(run.ntot, 1 << 18);
  test::TempDir dir;
  open_output_files(run.files, dir.str());
  output_pass(run);
  std::string expected;
  char record[kMaxPedRecord];
  for (std::int32_t i = 1; i <= run.ntot; ++i) {
    expected.append(record, format_ped_record(record, run.IV1[i], run.IV2[i], run.IV3[i],
                                              run.IV4[i], run.GE1[i], run.GE2[i]));
  }
  EXPECT_TRUE(test::read_file(dir.path() / "ped.pre") == expected);
}

// Counts that a wrong threshold or a swapped comparison would move far from
// their expected values (tolerances are about five standard deviations).
TEST(Statistics, LargeSeededRunMatchesTheDesignedRates) {
  auto t = bred_and_thinned(5, 60000, 6000, 424242);
  auto& run = t->run;

  std::int64_t genotype_counts[4][4] = {};
  for (std::int32_t i = 1; i <= run.n; ++i) ++genotype_counts[run.IV51[i]][run.IV52[i]];
  for (int a = 1; a <= 3; ++a) {
    for (int b = a; b <= 3; ++b) {
      const double p = a == b ? 1.0 / 9 : 2.0 / 9;
      const double sd = std::sqrt(run.n * p * (1 - p));
      EXPECT_NEAR(genotype_counts[a][b], run.n * p, 5 * sd) << a << "/" << b;
    }
  }

  for (std::int32_t g = 0; g <= run.ngen; ++g) {
    std::int64_t rows = 0;
    std::int64_t lost = 0;
    for (std::int32_t i = 1; i <= run.ntot; ++i) {
      if (run.IV7[i] != g) continue;
      ++rows;
      lost += run.VC[i];
    }
    const double p = (run.ngen - g + 1) * 0.1;
    const double sd = std::sqrt(rows * p * (1 - p));
    EXPECT_NEAR(lost, rows * p, 5 * sd) << "generation " << g;
  }

  test::TempDir dir;
  open_output_files(run.files, dir.str());
  std::int64_t candidates = 0;
  for (std::int32_t i = 1; i <= run.ntot; ++i) candidates += is_error_candidate(run, i) ? 1 : 0;
  output_pass(run);
  const auto altered = static_cast<std::int64_t>(
      test::split_lines(test::read_file(dir.path() / "ped.errors")).size());
  const double sd = std::sqrt(candidates * 0.375 * 0.625);
  ASSERT_GT(candidates, 1000);
  EXPECT_NEAR(altered, candidates * 0.375, 5 * sd);
}

}  // namespace
}  // namespace pedsim
