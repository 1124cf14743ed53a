#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "core/breeding.hpp"
#include "core/founders.hpp"
#include "output/loss.hpp"
#include "output/output_pass.hpp"
#include "output/reports.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::run_pedsim;
using test::TempDir;

class GoldenWithOptions : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenWithOptions, OptionsOnlyAddFiles) {
  const auto golden = test::golden_case(GetParam());
  const std::vector<std::vector<std::string>> option_sets{
      {"--truth", "truth.txt"},
      {"--summary", "summary.txt"},
      {"--seed", golden.seed, "--truth", "truth.txt", "--summary", "summary.txt"}};
  for (const auto& options : option_sets) {
    TempDir dir;
    std::vector<std::string> args(options);
    args.insert(args.end(), golden.args.begin(), golden.args.end());
    // With --seed the variable holds a different seed, which the option overrides.
    const bool seed_option = options.front() == "--seed";
    const auto result = run_pedsim(args, {dir.path(), seed_option ? "999" : golden.seed});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, read_file(golden.dir / "stdout")) << options.front();
    EXPECT_EQ(read_file(dir.path() / "ped.pre"), read_file(golden.dir / "ped.pre"));
    EXPECT_EQ(read_file(dir.path() / "ped.errors"), read_file(golden.dir / "ped.errors"));
  }
}

INSTANTIATE_TEST_SUITE_P(Reference, GoldenWithOptions, ::testing::ValuesIn(test::kGoldenCases),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return "run_" + name;
                         });

struct OptionErrorCase {
  std::string name;
  std::vector<std::string> args;
  std::string message;
};

class OptionErrors : public ::testing::TestWithParam<OptionErrorCase> {};

TEST_P(OptionErrors, StopBeforeAnyFileIsTouched) {
  TempDir dir;
  const auto result = run_pedsim(GetParam().args, {dir.path(), "1"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "pedsim: " + GetParam().message + "\n");
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionErrors,
    ::testing::Values(OptionErrorCase{"Unknown",
                                      {"--frobnicate", "3", "20", "5"},
                                      "unknown option '--frobnicate' (see --help)"},
                      OptionErrorCase{"MissingValue", {"--truth"}, "option --truth needs a value"},
                      OptionErrorCase{"SeedNotAnInteger",
                                      {"--seed", "abc", "3", "20", "5"},
                                      "--seed must be a decimal 32-bit signed integer, got 'abc'"},
                      OptionErrorCase{
                          "SeedTooLarge",
                          {"--seed", "2147483648", "3", "20", "5"},
                          "--seed must be a decimal 32-bit signed integer, got '2147483648'"}),
    [](const auto& info) { return info.param.name; });

TEST(Options, ReportThatCannotBeCreatedNamesItsUnit) {
  TempDir dir;
  const auto result = run_pedsim({"--summary", "s.txt", "--truth", "missing/t.txt", "3", "20", "5"},
                                 {dir.path(), "1"});
  EXPECT_EQ(result.status, 29);
  EXPECT_EQ(
      result.err,
      "forrtl: No such file or directory\nforrtl: severe (29): file not found, unit 3, file " +
          dir.str() + "/missing/t.txt\n");
  EXPECT_EQ(read_file(dir.path() / "ped.pre"), "");
  EXPECT_FALSE(fs::exists(dir.path() / "s.txt"));
}

TEST(Options, NumbersAreNeverReadAsOptions) {
  TempDir dir;
  // A negative number is a number; an option after the numbers is not read.
  const auto result = run_pedsim({"3", "20", "5", "--truth", "t.txt"}, {dir.path(), "1"});
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(fs::exists(dir.path() / "t.txt"));
  const auto negative = run_pedsim({"-1", "20", "5"}, {dir.path(), "1"});
  EXPECT_EQ(negative.status, 2);
  EXPECT_NE(negative.err.find("ngen must not be negative"), std::string::npos);
}

TEST(Options, ClockSeededSummaryRepeatsTheRun) {
  TempDir first;
  const auto run = run_pedsim({"--summary", "s.txt", "4", "60", "6"}, {first.path(), std::nullopt});
  ASSERT_EQ(run.status, 0);
  std::string seed;
  for (const auto& line : test::split_lines(read_file(first.path() / "s.txt"))) {
    if (line.rfind("seed: ", 0) == 0) seed = line.substr(6);
  }
  ASSERT_FALSE(seed.empty());
  TempDir again;
  const auto repeat = run_pedsim({"--seed", seed, "4", "60", "6"}, {again.path(), std::nullopt});
  EXPECT_EQ(repeat.out, run.out);
  EXPECT_EQ(read_file(again.path() / "ped.pre"), read_file(first.path() / "ped.pre"));
}

// One whole seeded run in-process, with both reports written to `dir`.
std::unique_ptr<test::TestRun> run_with_reports(std::int32_t ngen, std::int32_t n,
                                                std::int32_t male, std::int32_t seed,
                                                const TempDir& dir) {
  auto t = test::make_run(ngen, n, male, seed);
  auto& run = t->run;
  open_output_files(run.files, dir.str());
  run.files.truth.open(dir.str(), "truth.txt", 3);
  run.files.summary.open(dir.str(), "summary.txt", 4);
  create_founders(run);
  breed_generations(run);
  randomloss(run);
  output_pass(run);
  write_truth_file(run);
  write_summary_file(run);
  return t;
}

using Rows = std::vector<std::vector<std::int64_t>>;

Rows read_rows(const fs::path& file, bool header) {
  auto lines = test::split_lines(read_file(file));
  Rows rows{{}};
  for (std::size_t k = header ? 1 : 0; k < lines.size(); ++k)
    rows.push_back(test::fields_of(lines[k]));
  return rows;
}

bool carries(std::int64_t a, std::int64_t b, std::int64_t allele) {
  return a == allele || b == allele;
}

TEST(Reports, TruthAgreesWithTheOutputsAndWithMendel) {
  std::mt19937 rng(31);
  for (int trial = 0; trial < 200; ++trial) {
    const std::int32_t male = 1 + static_cast<std::int32_t>(rng() % 5);
    const std::int32_t n = 2 * male + static_cast<std::int32_t>(rng() % 50);
    const std::int32_t ngen = static_cast<std::int32_t>(rng() % 8);
    TempDir dir;
    run_with_reports(ngen, n, male, static_cast<std::int32_t>(rng()), dir);
    const Rows truth = read_rows(dir.path() / "truth.txt", true);
    const Rows pre = read_rows(dir.path() / "ped.pre", false);
    ASSERT_EQ(truth.size(), pre.size());
    std::set<std::int64_t> listed;
    for (const auto& line : test::split_lines(read_file(dir.path() / "ped.errors"))) {
      listed.insert(test::fields_of(line)[0]);
    }
    for (std::size_t i = 1; i < truth.size(); ++i) {
      const auto& t = truth[i];
      ASSERT_EQ(t.size(), 11U);
      ASSERT_EQ((std::vector<std::int64_t>{t[0], t[1], t[2], t[3], t[8], t[9]}), pre[i]) << i;
      ASSERT_EQ(t[10] == 1, listed.count(t[0]) == 1) << i;
      if (t[0] == 0) continue;
      ASSERT_EQ(t[7] == 1, t[8] == 0) << i;
      if (t[1] == 0) continue;
      const auto& sire = truth[static_cast<std::size_t>(t[1])];
      const auto& dam = truth[static_cast<std::size_t>(t[2])];
      const bool mendelian = (carries(sire[5], sire[6], t[5]) && carries(dam[5], dam[6], t[6])) ||
                             (carries(sire[5], sire[6], t[6]) && carries(dam[5], dam[6], t[5]));
      ASSERT_TRUE(mendelian) << "row " << i << " of trial " << trial;
    }
  }
}

std::map<std::string, std::string> summary_values(const fs::path& file) {
  std::map<std::string, std::string> values;
  for (const auto& line : test::split_lines(read_file(file))) {
    const auto colon = line.find(": ");
    if (colon != std::string::npos) values[line.substr(0, colon)] = line.substr(colon + 2);
    if (line.rfind("generation ", 0) == 0) {
      const auto w = test::words(line);
      values["generation " + w[1]] = line.substr(line.find(' ', 11) + 1);
    }
  }
  return values;
}

TEST(Reports, SummaryCountsMatchTheTruthFile) {
  std::mt19937 rng(77);
  for (int trial = 0; trial < 100; ++trial) {
    const std::int32_t male = 1 + static_cast<std::int32_t>(rng() % 8);
    const std::int32_t n = 2 * male + static_cast<std::int32_t>(rng() % 300);
    const std::int32_t ngen = 1 + static_cast<std::int32_t>(rng() % 10);
    TempDir dir;
    run_with_reports(ngen, n, male, static_cast<std::int32_t>(rng()), dir);
    const Rows truth = read_rows(dir.path() / "truth.txt", true);
    const auto summary = summary_values(dir.path() / "summary.txt");

    std::map<std::int64_t, std::array<std::int64_t, 5>> per_generation;
    std::int64_t candidates = 0;
    std::int64_t altered = 0;
    std::int64_t clean_inconsistent = 0;
    for (std::size_t i = 1; i < truth.size(); ++i) {
      const auto& t = truth[i];
      if (t[0] == 0) continue;
      auto& g = per_generation[t[4]];
      ++g[0];
      ++g[t[3] == 1 ? 1 : 2];
      ++g[t[7] == 1 ? 4 : 3];
      altered += t[10];
      if (t[1] == 0) continue;
      const auto& sire = truth[static_cast<std::size_t>(t[1])];
      const auto& dam = truth[static_cast<std::size_t>(t[2])];
      if (t[8] != 0 && sire[8] == 0 && dam[8] == 0) ++candidates;
      if (t[8] == 0 || t[10] == 1) continue;
      const bool sire_ok = sire[8] == 0 || sire[10] == 0;
      const bool dam_ok = dam[8] == 0 || dam[10] == 0;
      if (!sire_ok || !dam_ok) continue;
      const Genotype child{static_cast<std::int32_t>(t[8]), static_cast<std::int32_t>(t[9])};
      const Genotype s{static_cast<std::int32_t>(sire[8]), static_cast<std::int32_t>(sire[9])};
      const Genotype d{static_cast<std::int32_t>(dam[8]), static_cast<std::int32_t>(dam[9])};
      if (!is_mendelian_consistent(child, s, d)) ++clean_inconsistent;
    }
    ASSERT_EQ(clean_inconsistent, 0);
    EXPECT_EQ(summary.at("mendelian_inconsistencies_not_involving_altered"), "0");
    EXPECT_EQ(summary.at("error_candidates"), std::to_string(candidates));
    EXPECT_EQ(summary.at("altered_animals"), std::to_string(altered));
    for (const auto& [generation, c] : per_generation) {
      const auto w = test::words(summary.at("generation " + std::to_string(generation)));
      ASSERT_EQ(w.size(), 7U);
      for (int k = 0; k < 5; ++k)
        EXPECT_EQ(std::stoll(w[static_cast<std::size_t>(k)]), c[static_cast<std::size_t>(k)]);
    }
  }
}

TEST(Reports, MendelianConsistencyOfRecordedGenotypes) {
  const Genotype none{0, 0};
  EXPECT_TRUE(is_mendelian_consistent({1, 2}, {1, 1}, {2, 3}));
  EXPECT_TRUE(is_mendelian_consistent({2, 1}, {1, 1}, {2, 3}));
  EXPECT_FALSE(is_mendelian_consistent({1, 1}, {1, 1}, {2, 3}));
  EXPECT_FALSE(is_mendelian_consistent({4, 2}, {1, 2}, {2, 3}));
  EXPECT_TRUE(is_mendelian_consistent({3, 3}, none, {2, 3}));
  EXPECT_FALSE(is_mendelian_consistent({1, 1}, {2, 3}, none));
  EXPECT_TRUE(is_mendelian_consistent({4, 1}, none, none));
}

}  // namespace
}  // namespace pedsim
