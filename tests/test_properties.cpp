#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "support.hpp"

namespace pedsim {
namespace {

struct Triple {
  std::int64_t ngen, n, male;
};

// The exit status that the limits give a triple of small arguments.
int expected_status(const Triple& t) {
  if (t.male < 1 || t.n < t.male || t.ngen < 0) return 2;
  if (t.ngen >= 1 && t.n - t.male < t.male) return 2;
  return 0;
}

std::int64_t pick(std::mt19937& rng, std::int64_t lo, std::int64_t hi) {
  return std::uniform_int_distribution<std::int64_t>(lo, hi)(rng);
}

// Mostly valid triples of small runs, and triples breaking each limit.
Triple random_triple(std::mt19937& rng) {
  const std::int64_t male = pick(rng, 1, 6);
  Triple t{pick(rng, 0, 6), male * 2 + pick(rng, 0, 40), male};
  switch (pick(rng, 0, 9)) {
    case 0:
      t.male = pick(rng, -2, 0);
      break;
    case 1:
      t.n = t.male - pick(rng, 1, 3);
      break;
    case 2:
      t.ngen = pick(rng, -3, -1);
      break;
    case 3:
      t.n = t.male + pick(rng, 0, t.male - 1);  // fewer females than males
      break;
    case 4:
      t.ngen = 0;
      t.n = t.male + pick(rng, 0, 3);
      break;
    default:
      break;
  }
  return t;
}

// Checks one finished run: the pedigree, the recorded genotypes, and that
// "ped.errors" lists exactly the animals that the console reported.
void check_run(const Triple& t, const test::ProcessResult& result, const test::TempDir& dir) {
  const auto female = t.n - t.male;
  const auto ntot = t.n + t.ngen * female;
  const auto bred = t.ngen == 0 ? t.n : t.n + t.ngen * t.male * (female / t.male);
  std::vector<std::vector<std::int64_t>> rows{{}};
  for (const auto& line : test::split_lines(test::read_file(dir.path() / "ped.pre"))) {
    ASSERT_EQ(line.size(), 48U) << line;
    rows.push_back(test::fields_of(line));
    ASSERT_EQ(rows.back().size(), 6U);
  }
  ASSERT_EQ(static_cast<std::int64_t>(rows.size()) - 1, ntot);
  for (std::int64_t i = 1; i <= ntot; ++i) {
    const auto& r = rows[static_cast<std::size_t>(i)];
    if (i > bred) {
      ASSERT_EQ(r, std::vector<std::int64_t>(6, 0)) << "unfilled row " << i;
      continue;
    }
    ASSERT_EQ(r[0], i);
    ASSERT_TRUE(r[3] == 1 || r[3] == 2);
    ASSERT_TRUE(r[4] >= 0 && r[4] <= 4 && r[5] >= 0 && r[5] <= 3) << i;
    ASSERT_EQ(r[4] == 0, r[5] == 0) << i;
    if (i <= t.n) {
      ASSERT_EQ(r[1], 0);
      ASSERT_EQ(r[2], 0);
      ASSERT_EQ(r[3], i <= t.male ? 1 : 2);
    } else {
      ASSERT_TRUE(r[1] >= 1 && r[1] < i && r[2] >= 1 && r[2] < i) << i;
      ASSERT_EQ(rows[static_cast<std::size_t>(r[1])][3], 1) << "sire of " << i;
      ASSERT_EQ(rows[static_cast<std::size_t>(r[2])][3], 2) << "dam of " << i;
    }
  }

  const auto console = test::split_lines(result.out);
  const std::size_t counts = 3 + static_cast<std::size_t>(t.ngen);
  ASSERT_GE(console.size(), counts + 2);
  std::vector<std::int64_t> reported;
  for (std::size_t k = counts + 2; k < console.size(); ++k) {
    reported.push_back(test::fields_of(console[k]).at(0));
  }
  std::vector<std::int64_t> listed;
  for (const auto& line : test::split_lines(test::read_file(dir.path() / "ped.errors"))) {
    const auto f = test::fields_of(line);
    ASSERT_EQ(f.size(), 2U);
    const auto& r = rows.at(static_cast<std::size_t>(f[0]));
    // An altered animal is genotyped, has both parents ungenotyped, and its
    // recorded first allele differs from the one it had.
    ASSERT_NE(r[4], f[1]);
    ASSERT_TRUE(f[1] >= 1 && f[1] <= 3);
    ASSERT_EQ(rows.at(static_cast<std::size_t>(r[1]))[4], 0);
    ASSERT_EQ(rows.at(static_cast<std::size_t>(r[2]))[4], 0);
    listed.push_back(f[0]);
  }
  ASSERT_EQ(listed, reported);
}

TEST(Properties, RandomArgumentTriples) {
  std::mt19937 rng(8122026);
  std::map<int, int> seen;
  for (int trial = 0; trial < 300; ++trial) {
    const Triple t = random_triple(rng);
    const std::string seed = std::to_string(static_cast<std::int32_t>(rng()));
    test::TempDir dir;
    const auto result = test::run_pedsim(
        {std::to_string(t.ngen), std::to_string(t.n), std::to_string(t.male)}, {dir.path(), seed});
    const int status = expected_status(t);
    ++seen[status];
    ASSERT_EQ(result.status, status)
        << t.ngen << " " << t.n << " " << t.male << " seed " << seed << "\n"
        << result.err;
    if (status != 0) {
      ASSERT_EQ(result.err.rfind("pedsim: ", 0), 0U);
      ASSERT_EQ(test::read_file(dir.path() / "ped.pre"), "");
      continue;
    }
    ASSERT_EQ(result.err, "");
    check_run(t, result, dir);
    if (HasFatalFailure()) {
      FAIL() << "run " << t.ngen << " " << t.n << " " << t.male << " seed " << seed;
    }
  }
  EXPECT_GT(seen[0], 100);
  EXPECT_GT(seen[2], 50);
}

}  // namespace
}  // namespace pedsim
