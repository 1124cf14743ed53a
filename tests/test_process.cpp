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

class GoldenRun : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenRun, AllThreeOutputsMatchByteForByte) {
  const auto golden = test::golden_case(GetParam());
  TempDir dir;
  const auto result = run_pedsim(golden.args, {dir.path(), golden.seed});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, read_file(golden.dir / "stdout"));
  EXPECT_EQ(read_file(dir.path() / "ped.pre"), read_file(golden.dir / "ped.pre"));
  EXPECT_EQ(read_file(dir.path() / "ped.errors"), read_file(golden.dir / "ped.errors"));
}

INSTANTIATE_TEST_SUITE_P(Reference, GoldenRun, ::testing::ValuesIn(test::kGoldenCases),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return "run_" + name;
                         });

struct StopCase {
  std::string name;
  std::vector<std::string> args;
  int status;
  std::string out;
  std::string err;
};

class StoppedRun : public ::testing::TestWithParam<StopCase> {};

TEST_P(StoppedRun, DiagnosticStatusAndEmptyFiles) {
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
                 "calculation.\n"}),
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

}  // namespace
}  // namespace pedsim
