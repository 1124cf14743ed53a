#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support.hpp"

namespace pedsim {
namespace {

namespace fs = std::filesystem;
using test::ProcessOptions;
using test::read_file;
using test::run_pedsim;
using test::TempDir;

struct GoldenOptions {
  std::string name;
  std::vector<std::string> options;
};

class GoldenRun : public ::testing::TestWithParam<std::tuple<std::string, GoldenOptions>> {};

// The binary on the reference runs, with and without the options that only
// add files: the console and both files are the reference's, byte for byte.
TEST_P(GoldenRun, OutputsMatchByteForByte) {
  const auto golden = test::golden_case(std::get<0>(GetParam()));
  const auto& options = std::get<1>(GetParam()).options;
  std::vector<std::string> args;
  for (const auto& option : options) args.push_back(option == "SEED" ? golden.seed : option);
  args.insert(args.end(), golden.args.begin(), golden.args.end());
  // With --seed the variable holds another seed, which the option overrides.
  const bool seed_option = !options.empty() && options.front() == "--seed";
  TempDir dir;
  const auto result = run_pedsim(args, {dir.path(), seed_option ? "999" : golden.seed});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, read_file(golden.dir / "stdout"));
  EXPECT_EQ(read_file(dir.path() / "ped.pre"), read_file(golden.dir / "ped.pre"));
  EXPECT_EQ(read_file(dir.path() / "ped.errors"), read_file(golden.dir / "ped.errors"));
  for (const std::string report : {"truth.txt", "summary.txt"}) {
    const bool asked = std::find(options.begin(), options.end(), report) != options.end();
    EXPECT_EQ(fs::exists(dir.path() / report), asked) << report;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Reference, GoldenRun,
    ::testing::Combine(::testing::ValuesIn(test::kGoldenCases),
                       ::testing::Values(GoldenOptions{"plain", {}},
                                         GoldenOptions{"truth", {"--truth", "truth.txt"}},
                                         GoldenOptions{"summary", {"--summary", "summary.txt"}},
                                         GoldenOptions{"seed_and_both",
                                                       {"--seed", "SEED", "--truth", "truth.txt",
                                                        "--summary", "summary.txt"}})),
    [](const auto& info) {
      return test::case_name(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
    });

struct StopCase {
  std::string name;
  std::vector<std::string> args;
  int status;
  std::string out;
  std::string err;
  // Whether the run got as far as creating both files (left empty), or
  // stopped before touching the folder.
  bool creates_files = true;
};

class StoppedRun : public ::testing::TestWithParam<StopCase> {};

TEST_P(StoppedRun, DiagnosticStatusAndFiles) {
  const auto& c = GetParam();
  TempDir dir;
  const auto result = run_pedsim(c.args, {dir.path(), "1"});
  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.out, c.out);
  if (c.err.rfind("pedsim: ", 0) == 0) {
    EXPECT_EQ(result.err.rfind(c.err, 0), 0U) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
  } else {
    EXPECT_EQ(result.err, c.err);
  }
  if (!c.creates_files) {
    EXPECT_TRUE(fs::is_empty(dir.path()));
    return;
  }
  EXPECT_EQ(read_file(dir.path() / "ped.pre"), "");
  EXPECT_EQ(read_file(dir.path() / "ped.errors"), "");
  EXPECT_TRUE(fs::exists(dir.path() / "ped.errors"));
}

const std::string kArgumentFile = "unit -5, file Internal List-Directed Read\n";

INSTANTIATE_TEST_SUITE_P(
    Table, StoppedRun,
    ::testing::Values(
        StopCase{"NoArguments",
                 {},
                 24,
                 "",
                 "forrtl: severe (24): end-of-file during read, " + kArgumentFile},
        StopCase{"ThirdMissing",
                 {"3", "20"},
                 24,
                 " ngen=           3\n n=          20\n",
                 "forrtl: severe (24): end-of-file during read, " + kArgumentFile},
        StopCase{"NotANumber",
                 {"abc", "20", "5"},
                 59,
                 "",
                 "forrtl: severe (59): list-directed I/O syntax error, " + kArgumentFile},
        StopCase{"TooLarge",
                 {"3", "99999999999", "5"},
                 64,
                 " ngen=           3\n",
                 "forrtl: severe (64): input conversion error, " + kArgumentFile},
        StopCase{"NoMales",
                 {"3", "20", "0"},
                 2,
                 " ngen=           3\n n=          20\n male=           0\n",
                 "pedsim: male must be at least 1"},
        StopCase{"TableTooLarge",
                 {"1", "2000000000", "1"},
                 179,
                 " ngen=           1\n n=  2000000000\n male=           1\n",
                 "forrtl: severe (179): Cannot allocate array - overflow on array size "
                 "calculation.\n"},
        StopCase{"UnknownOption",
                 {"--frobnicate", "3", "20", "5"},
                 2,
                 "",
                 "pedsim: unknown option '--frobnicate' (see --help)\n",
                 false},
        StopCase{"OptionWithoutValue",
                 {"--truth"},
                 2,
                 "",
                 "pedsim: option --truth needs a value\n",
                 false},
        StopCase{"SeedOptionNotAnInteger",
                 {"--seed", "2147483648", "3", "20", "5"},
                 2,
                 "",
                 "pedsim: --seed must be a decimal 32-bit signed integer, got '2147483648'\n",
                 false}),
    [](const auto& info) { return info.param.name; });

TEST(Process, InvalidSeedStopsBeforeAnyDraw) {
  TempDir dir;
  const auto result = run_pedsim({"3", "20", "5"}, {dir.path(), "twelve"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err.rfind("pedsim: PEDSIM_SEED", 0), 0U) << result.err;
  EXPECT_EQ(read_file(dir.path() / "ped.pre"), "");
}

TEST(Process, LargeExistingPedPreIsReplaced) {
  TempDir dir;
  test::write_file(dir.path() / "ped.pre", std::string(5 << 20, 'x'));
  const auto result = run_pedsim({"3", "20", "5"}, {dir.path(), "74565"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(fs::file_size(dir.path() / "ped.pre"), 65U * 49U);
}

TEST(Process, HelpAndVersionTouchNoFile) {
  for (const std::string flag : {"--help", "-h", "--version"}) {
    TempDir dir;
    test::write_file(dir.path() / "ped.pre", "keep me\n");
    const auto result = run_pedsim({flag}, {dir.path(), std::nullopt});
    EXPECT_EQ(result.status, 0) << flag;
    EXPECT_EQ(result.err, "");
    EXPECT_NE(result.out.find("pedsim"), std::string::npos);
    EXPECT_EQ(read_file(dir.path() / "ped.pre"), "keep me\n");
    EXPECT_FALSE(fs::exists(dir.path() / "ped.errors"));
  }
}

TEST(Process, PastFiveDigitAnimalNumbersEveryFieldStaysSplit) {
  TempDir dir;
  const auto result = run_pedsim({"1", "100000", "10"}, {dir.path(), "3"});
  ASSERT_EQ(result.status, 0);
  const auto lines = test::split_lines(read_file(dir.path() / "ped.pre"));
  ASSERT_EQ(lines.size(), 199990U);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto fields = test::fields_of(lines[i]);
    ASSERT_EQ(fields.size(), 6U) << lines[i];
    ASSERT_EQ(fields[0], static_cast<std::int64_t>(i + 1));
  }
  EXPECT_EQ(lines.back().substr(0, 8), "  199990");
}

TEST(Process, ReportThatCannotBeCreatedNamesItsUnit) {
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

TEST(Process, NumbersAreNeverReadAsOptions) {
  TempDir dir;
  // A negative number is a number; an option after the numbers is not read.
  const auto result = run_pedsim({"3", "20", "5", "--truth", "t.txt"}, {dir.path(), "1"});
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(fs::exists(dir.path() / "t.txt"));
  const auto negative = run_pedsim({"-1", "20", "5"}, {dir.path(), "1"});
  EXPECT_EQ(negative.status, 2);
  EXPECT_NE(negative.err.find("ngen must not be negative"), std::string::npos);
}

TEST(Process, ClockSeededSummaryRepeatsTheRun) {
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

}  // namespace
}  // namespace pedsim
