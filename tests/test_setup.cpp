#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "core/setup.hpp"
#include "output/diagnostic.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

struct ReadCase {
  std::string text;
  int code;
  std::int32_t value;
};

class ArgumentReader : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ArgumentReader, ReadsOneIntegerInFreeForm) {
  const auto read = read_integer_argument(GetParam().text);
  EXPECT_EQ(read.code, GetParam().code) << "'" << GetParam().text << "'";
  if (GetParam().code == 0) {
    EXPECT_EQ(read.value, GetParam().value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ArgumentReader,
    ::testing::Values(
        ReadCase{"3", 0, 3}, ReadCase{"0", 0, 0}, ReadCase{"+5", 0, 5}, ReadCase{"-5", 0, -5},
        ReadCase{"007", 0, 7}, ReadCase{"   7", 0, 7}, ReadCase{"\t9", 0, 9}, ReadCase{"7 8", 0, 7},
        ReadCase{"7,8", 0, 7}, ReadCase{"7/", 0, 7}, ReadCase{"3 abc", 0, 3},
        ReadCase{"2147483647", 0, INT_MAX}, ReadCase{"-2147483648", 0, INT_MIN},
        // Cut to the 30-character buffer: 29 zeros and the 1 of "12".
        ReadCase{std::string(29, '0') + "12", 0, 1},
        // A value pushed past the buffer by blanks is not there at all.
        ReadCase{std::string(30, ' ') + "5", code::kEndOfFile, 0},
        ReadCase{"", code::kEndOfFile, 0}, ReadCase{"    ", code::kEndOfFile, 0},
        ReadCase{"abc", code::kSyntaxError, 0}, ReadCase{"12abc", code::kSyntaxError, 0},
        ReadCase{"x1", code::kSyntaxError, 0}, ReadCase{",5", code::kSyntaxError, 0},
        ReadCase{"  /5", code::kSyntaxError, 0}, ReadCase{"5;", code::kSyntaxError, 0},
        ReadCase{"\xC3\xA9", code::kSyntaxError, 0},
        ReadCase{"99999999999", code::kConversionError, 0},
        ReadCase{"2147483648", code::kConversionError, 0},
        ReadCase{"-2147483649", code::kConversionError, 0},
        ReadCase{"1.5", code::kConversionError, 0}, ReadCase{"1e3", code::kConversionError, 0},
        ReadCase{"1D3", code::kConversionError, 0}, ReadCase{"+", code::kConversionError, 0},
        ReadCase{"-", code::kConversionError, 0}, ReadCase{"--5", code::kConversionError, 0},
        ReadCase{"inf", code::kConversionError, 0}, ReadCase{"NaN", code::kConversionError, 0},
        ReadCase{"-Infinity", code::kConversionError, 0}));

TEST(ParseInt32, AcceptsOnlyPlainDecimalIntegers) {
  EXPECT_EQ(parse_int32("-5"), -5);
  EXPECT_EQ(parse_int32("+74565"), 74565);
  EXPECT_EQ(parse_int32("-2147483648"), INT_MIN);
  for (const char* bad : {"", "+", "++1", " 1", "1 ", "0x10", "2147483648", "1.0", "abc"}) {
    EXPECT_FALSE(parse_int32(bad).has_value()) << bad;
  }
}

TEST(ReadArguments, EchoesEachValueBeforeReadingTheNext) {
  test::TestRun t;
  const std::vector<std::string_view> args{"3", "20"};
  try {
    read_arguments(t.run, args);
    FAIL() << "a missing third argument must stop the run";
  } catch (const Stop& stop) {
    EXPECT_EQ(stop.status(), code::kEndOfFile);
    EXPECT_EQ(stop.text(),
              "forrtl: severe (24): end-of-file during read, unit -5, file Internal List-Directed "
              "Read\n");
  }
  EXPECT_EQ(t.console.captured(), " ngen=           3\n n=          20\n");
}

struct CountCase {
  std::int32_t ngen, n, male;
  std::int32_t female, ntot, ratio;
};

class DerivedCounts : public ::testing::TestWithParam<CountCase> {};

TEST_P(DerivedCounts, FromTheThreeParameters) {
  const auto& c = GetParam();
  test::TestRun t;
  t.run.ngen = c.ngen;
  t.run.n = c.n;
  t.run.male = c.male;
  derive_counts(t.run);
  EXPECT_EQ(t.run.female, c.female);
  EXPECT_EQ(t.run.ntot, c.ntot);
  EXPECT_EQ(t.run.ratio, c.ratio);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DerivedCounts,
    ::testing::Values(CountCase{3, 20, 5, 15, 65, 3}, CountCase{2, 10, 3, 7, 24, 2},
                      CountCase{1, 10, 4, 6, 16, 1}, CountCase{0, 7, 7, 0, 7, 0},
                      CountCase{0, 10, 6, 4, 10, 0},
                      // The largest table whose size in bytes fits.
                      CountCase{0, 536870911, 1, 536870910, 536870911, 536870910}));

struct LimitCase {
  std::int32_t ngen, n, male;
  int status;
  std::string mentions;
};

class Limits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(Limits, ArgumentsOutsideTheLimitsStop) {
  const auto& c = GetParam();
  test::TestRun t;
  t.run.ngen = c.ngen;
  t.run.n = c.n;
  t.run.male = c.male;
  try {
    derive_counts(t.run);
    FAIL() << "expected a stop";
  } catch (const Stop& stop) {
    EXPECT_EQ(stop.status(), c.status);
    EXPECT_NE(stop.text().find(c.mentions), std::string::npos) << stop.text();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Limits,
    ::testing::Values(
        LimitCase{3, 20, 0, 2, "pedsim: male must be at least 1 (ngen=3 n=20 male=0)"},
        LimitCase{3, 20, -4, 2, "male=-4"}, LimitCase{0, 3, 5, 2, "n must be at least male"},
        LimitCase{-1, 20, 5, 2, "ngen must not be negative"}, LimitCase{1, 10, 6, 2, "females=4"},
        LimitCase{0, 536870912, 1, 179,
                  "forrtl: severe (179): Cannot allocate array - overflow on array size "
                  "calculation.\n"},
        LimitCase{INT_MAX, INT_MAX, 1, 179, "(179)"}, LimitCase{1, 1073741824, 1, 179, "(179)"}));

TEST(AllocateTable, SizesAndClearsEveryArray) {
  auto t = test::make_run(2, 10, 3, 1);
  auto& run = t->run;
  EXPECT_EQ(run.lastanimal, 10);
  EXPECT_EQ(run.IS.size(), 3);
  EXPECT_EQ(run.ID.size(), 7);
  EXPECT_EQ(run.SEX.size(), 10);
  const auto expect_cleared = [](const auto& column) {
    ASSERT_EQ(column.size(), 24);
    for (std::int32_t i = 1; i <= 24; ++i) EXPECT_EQ(column[i], 0);
  };
  for (Column* c : {&run.IV2, &run.IV3, &run.IV7}) expect_cleared(*c);
  for (std::int32_t i = 1; i <= 24; ++i) EXPECT_EQ(run.IV1[i], i <= 10 ? i : 0);
  for (CodeColumn* c : {&run.IV4, &run.IV51, &run.IV52, &run.VC, &run.GE1, &run.GE2}) {
    expect_cleared(*c);
  }
}

TEST(SeedStream, ValueReplacesTheClockSum) {
  test::TestRun t;
  seed_stream(t.run, std::string("107333"), "PEDSIM_SEED");
  EXPECT_EQ(t.run.stream.s1(), 591724631);
  EXPECT_EQ(t.run.stream.s2(), 494);
  try {
    seed_stream(t.run, std::string("12x"), "PEDSIM_SEED");
    FAIL();
  } catch (const Stop& stop) {
    EXPECT_EQ(stop.status(), 2);
    EXPECT_EQ(stop.text().rfind("pedsim: PEDSIM_SEED", 0), 0U) << stop.text();
  }
}

}  // namespace
}  // namespace pedsim
