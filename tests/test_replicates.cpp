#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>

#include "pedsim/pedsim.hpp"
#include "random/uniform_stream.hpp"
#include "reference/literal.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::run_pedsim;
using test::TempDir;

// a^(2^doublings x times) mod m, by squaring: the jump written apart from
// the stream's own.
std::uint64_t power_of_two_jump(std::uint64_t a, int doublings, std::uint64_t times,
                                std::uint64_t m) {
  for (int k = 0; k < doublings; ++k) a = a * a % m;
  std::uint64_t result = 1;
  for (std::uint64_t k = 0; k < times; ++k) result = result * a % m;
  return result;
}

TEST(ReplicateStream, JumpEqualsSteppingAndThePowerFormula) {
  for (const std::int32_t replicate : {0, 1, 2, 7}) {
    UniformStream seeded;
    seeded.seed_from_sum(74565);
    // A small stride, stepped one draw at a time.
    UniformStream jumped = seeded;
    jumped.jump_to_replicate(replicate, 1000);
    UniformStream stepped = seeded;
    for (int k = 0; k < replicate * 1000; ++k) stepped.next_z();
    EXPECT_EQ(jumped.s1(), stepped.s1()) << replicate;
    EXPECT_EQ(jumped.s2(), stepped.s2()) << replicate;
    // The real stride: each component multiplied by a^(R x 2^44).
    UniformStream replicate_start = seeded;
    replicate_start.jump_to_replicate(replicate, kReplicateStride);
    const auto r = static_cast<std::uint64_t>(replicate);
    EXPECT_EQ(static_cast<std::uint64_t>(replicate_start.s1()),
              seeded.s1() * power_of_two_jump(40014, 44, r, 2147483563) % 2147483563);
    EXPECT_EQ(static_cast<std::uint64_t>(replicate_start.s2()),
              seeded.s2() * power_of_two_jump(40692, 44, r, 2147483399) % 2147483399);
  }
}

// Pearson's chi-square for independence between the founder genotypes at the
// same positions of two runs (6 x 6 table, 25 degrees of freedom).
double founder_dependence(const Seed& a, const Seed& b) {
  const Parameters p = Parameters::make(0, 20000, 1);
  const Simulation first = simulate(p, a);
  const Simulation second = simulate(p, b);
  const auto code = [](const GenotypeStore& genotypes, std::int32_t i) {
    const Genotype g = genotypes.true_genotype(i);
    return static_cast<std::size_t>((g.first - 1) * 3 + g.second - 1);
  };
  std::array<std::array<double, 9>, 9> observed{};
  for (std::int32_t i = 1; i <= p.founders; ++i) {
    observed[code(first.genotypes, i)][code(second.genotypes, i)] += 1;
  }
  std::array<double, 9> rows{};
  std::array<double, 9> columns{};
  for (std::size_t i = 0; i < 9; ++i) {
    for (std::size_t j = 0; j < 9; ++j) {
      rows[i] += observed[i][j];
      columns[j] += observed[i][j];
    }
  }
  double chi_square = 0;
  for (std::size_t i = 0; i < 9; ++i) {
    for (std::size_t j = 0; j < 9; ++j) {
      const double expected = rows[i] * columns[j] / p.founders;
      if (expected > 0) chi_square += std::pow(observed[i][j] - expected, 2) / expected;
    }
  }
  return chi_square;
}

// The 0.9999 quantile of chi-square with 25 degrees of freedom: independent
// runs exceed it with probability 1e-4 (the seeds are fixed, so the test
// gives the same answer every time).
constexpr double kIndependenceLimit = 60.4;

TEST(ReplicateStream, ReplicatesOfOneSeedAreIndependentWhereNearbySeedsAreNot) {
  const std::int32_t t = 74565;
  for (const auto& [r, other] :
       {std::pair{1, 2}, std::pair{2, 3}, std::pair{3, 6}, std::pair{5, 10}, std::pair{0, 1}}) {
    EXPECT_LT(founder_dependence({t, "x", r}, {t, "x", other}), kIndependenceLimit)
        << "replicates " << r << " and " << other;
  }
  // The same test finds the dependence between the seeds t and 2t.
  EXPECT_GT(founder_dependence({t, "x"}, {2 * t, "x"}), kIndependenceLimit);
}

// Replicate 0 is the plain run; replicate R is the literal procedure run
// from the seeded state with each component multiplied by a^(R x 2^44).
TEST(Replicates, EachReplicateIsTheLiteralRunFromItsJumpedState) {
  const Parameters p = Parameters::make(12, 40, 8);
  UniformStream seeded;
  seeded.seed_from_sum(-5);
  for (const std::int32_t replicate : {0, 3, kMaxReplicate}) {
    const auto r = static_cast<std::uint64_t>(replicate);
    const UniformStream start(
        static_cast<std::int32_t>(seeded.s1() * power_of_two_jump(40014, 44, r, 2147483563) %
                                  2147483563),
        static_cast<std::int32_t>(seeded.s2() * power_of_two_jump(40692, 44, r, 2147483399) %
                                  2147483399));
    const Simulation expected = reference::simulate(p, start);
    TempDir dir;
    const auto run =
        run_pedsim({"--replicate", std::to_string(replicate), "12", "40", "8"}, {dir.path(), "-5"});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(read_file(dir.path() / "ped.pre"),
              reference::ped_pre(expected.pedigree, expected.genotypes))
        << replicate;
    EXPECT_EQ(read_file(dir.path() / "ped.errors"), reference::ped_errors(expected.altered));
    if (replicate == 0) {
      EXPECT_EQ(run.out, read_file(fs::path(PEDSIM_GOLDEN_DIR) / "12-40-8" / "stdout"));
    }
  }
}

// The counts of a replicate's table line, from its files: animals, records
// lost, error candidates, altered animals.
std::vector<std::string> counts_from_files(const fs::path& folder) {
  std::vector<std::vector<std::int64_t>> rows{{}};
  for (const auto& line : test::split_lines(read_file(folder / "ped.pre"))) {
    rows.push_back(test::fields_of(line));
  }
  std::int64_t animals = 0, lost = 0, candidates = 0;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto& r = rows[i];
    if (r[0] == 0) continue;
    ++animals;
    lost += r[4] == 0 ? 1 : 0;
    candidates += r[4] != 0 && r[1] != 0 && rows[static_cast<std::size_t>(r[1])][4] == 0 &&
                          rows[static_cast<std::size_t>(r[2])][4] == 0
                      ? 1
                      : 0;
  }
  const auto altered = test::split_lines(read_file(folder / "ped.errors")).size();
  return {std::to_string(animals), std::to_string(lost), std::to_string(candidates),
          std::to_string(altered)};
}

TEST(Replicates, StudyEqualsSingleRunsAndItsTableTheirFiles) {
  TempDir dir;
  const std::vector<std::string> args{"--seed", "7", "--truth", "t.txt", "6", "80", "8"};
  std::vector<std::string> study{"--replicates", "3", "--outdir", "study"};
  study.insert(study.end(), args.begin(), args.end());
  const auto result = run_pedsim(study, {dir.path(), std::nullopt});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto table = test::split_lines(read_file(dir.path() / "study" / "replicates.tsv"));
  ASSERT_EQ(table.size(), 4U);
  for (int r = 0; r < 3; ++r) {
    const std::string name = "r0000" + std::to_string(r);
    const fs::path folder = dir.path() / "study" / name;
    const fs::path single = dir.path() / "single" / name;
    fs::create_directories(single);
    std::vector<std::string> one{"--replicate",
                                 std::to_string(r),
                                 "--outdir",
                                 "single/" + name,
                                 "--seed",
                                 "7",
                                 "--truth",
                                 "single/" + name + "/t.txt",
                                 "6",
                                 "80",
                                 "8"};
    const auto run = run_pedsim(one, {dir.path(), std::nullopt});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(read_file(folder / "console.txt"), run.out);
    for (const std::string file : {"ped.pre", "ped.errors", "t.txt", "run.tsv"}) {
      EXPECT_EQ(read_file(folder / file), read_file(single / file)) << name << " " << file;
    }
    const auto fields = test::words(table[static_cast<std::size_t>(r + 1)]);
    ASSERT_EQ(fields.size(), 9U);
    EXPECT_EQ(fields[0], std::to_string(r));
    EXPECT_EQ(fields[1], "7");
    EXPECT_EQ(std::vector<std::string>(fields.begin() + 2, fields.begin() + 6),
              counts_from_files(folder));
    EXPECT_EQ(fields[7], "0");
    EXPECT_EQ(fields[8], "design");
  }
  // The table rebuilt from the single runs' folders is the study's.
  const auto collected = run_pedsim({"collect", "single"}, {dir.path(), std::nullopt});
  EXPECT_EQ(collected.status, 0);
  EXPECT_EQ(read_file(dir.path() / "single" / "replicates.tsv"),
            read_file(dir.path() / "study" / "replicates.tsv"));
}

// Under record models the table gains their columns, each replicate its
// errors.tsv, and collect rebuilds the same table with or without study.tsv.
TEST(Replicates, RecordModelsAddTheirColumnsToStudiesAndCollect) {
  TempDir dir;
  const auto result = run_pedsim({"--replicates",
                                  "2",
                                  "--outdir",
                                  "study",
                                  "--seed",
                                  "3",
                                  "--markers",
                                  "10",
                                  "--alleles",
                                  "2",
                                  "--error-model",
                                  "dropout",
                                  "--error-rate",
                                  "0.1",
                                  "--missing-model",
                                  "random",
                                  "--call-rate",
                                  "0.8",
                                  "4",
                                  "60",
                                  "6"},
                                 {dir.path(), std::nullopt});
  ASSERT_EQ(result.status, 0) << result.err;
  const std::string table = read_file(dir.path() / "study" / "replicates.tsv");
  const auto lines = test::split_lines(table);
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_TRUE(lines[0].ends_with(
      "\terror_rate\tcall_rate\taltered_genotypes\tdetectable_errors\tinconsistent_genotypes"));
  for (int r = 0; r < 2; ++r) {
    std::vector<std::string> fields;
    for (std::size_t start = 0, tab = 0; tab != std::string::npos; start = tab + 1) {
      tab = lines[static_cast<std::size_t>(r + 1)].find('\t', start);
      fields.push_back(lines[static_cast<std::size_t>(r + 1)].substr(start, tab - start));
    }
    ASSERT_EQ(fields.size(), 14U);
    const auto errors = test::split_lines(
        read_file(dir.path() / "study" / ("r0000" + std::to_string(r)) / "errors.tsv"));
    EXPECT_EQ(fields[11], std::to_string(errors.size() - 1));
    EXPECT_NEAR(std::stod(fields[10]), 0.8, 0.05);
  }
  EXPECT_EQ(run_pedsim({"collect", "study"}, {dir.path(), std::nullopt}).status, 0);
  EXPECT_EQ(read_file(dir.path() / "study" / "replicates.tsv"), table);
  fs::remove(dir.path() / "study" / "study.tsv");
  EXPECT_EQ(run_pedsim({"collect", "study"}, {dir.path(), std::nullopt}).status, 0);
  EXPECT_EQ(read_file(dir.path() / "study" / "replicates.tsv"), table);
}

TEST(Replicates, AFailedReplicateIsTabulatedAndTheOthersFinish) {
  TempDir dir;
  fs::create_directories(dir.path() / "study");
  // A file where replicate 1's folder should be.
  test::write_file(dir.path() / "study" / "r00001", "in the way\n");
  const auto result =
      run_pedsim({"--replicates", "3", "--outdir", "study", "4", "60", "6"}, {dir.path(), "3"});
  EXPECT_EQ(result.status, 43);
  EXPECT_NE(result.err.find("pedsim: replicate 1 failed with status 43"), std::string::npos)
      << result.err;
  const auto table = test::split_lines(read_file(dir.path() / "study" / "replicates.tsv"));
  ASSERT_EQ(table.size(), 4U);
  EXPECT_EQ(test::words(table[1])[7], "0");
  EXPECT_EQ(table[2], "1\t3\tNA\tNA\tNA\tNA\tNA\t43\tdesign");
  EXPECT_EQ(test::words(table[3])[7], "0");
}

// The GNU parallel example of the user guide gives the study's folders.
TEST(Replicates, GnuParallelExampleGivesTheSameFolders) {
  if (std::system("command -v parallel > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "GNU parallel is not installed";
  }
  TempDir dir;
  const auto study =
      run_pedsim({"--seed", "7", "--replicates", "4", "--outdir", "study", "4", "60", "6"},
                 {dir.path(), std::nullopt});
  ASSERT_EQ(study.status, 0);
  const std::string bin = fs::path(PEDSIM_BINARY).parent_path().string();
  const std::string example =
      "cd " + dir.str() + " && PATH=" + bin +
      ":$PATH && seq 0 3 | parallel --will-cite 'd=run/r$(printf %05d {}); mkdir -p $d && "
      "pedsim --seed 7 --replicate {} --outdir $d 4 60 6 > $d/console.txt' && "
      "pedsim collect run 2> /dev/null";
  ASSERT_EQ(std::system(example.c_str()), 0);
  for (const std::string name : {"r00000", "r00001", "r00002", "r00003"}) {
    for (const std::string file : {"ped.pre", "ped.errors", "run.tsv", "console.txt"}) {
      EXPECT_EQ(read_file(dir.path() / "run" / name / file),
                read_file(dir.path() / "study" / name / file))
          << name << " " << file;
    }
  }
  EXPECT_EQ(read_file(dir.path() / "run" / "replicates.tsv"),
            read_file(dir.path() / "study" / "replicates.tsv"));
}

}  // namespace
}  // namespace pedsim
