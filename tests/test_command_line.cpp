#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "cli/command_line.hpp"
#include "io/diagnostic.hpp"
#include "pedsim/pedsim.hpp"
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
        ReadCase{"-Infinity", code::kConversionError, 0}),
    [](const auto& info) {
      return std::to_string(info.index) + "_" + test::case_name(info.param.text);
    });

TEST(ParseInt32, AcceptsOnlyPlainDecimalIntegers) {
  EXPECT_EQ(parse_int32("-5"), -5);
  EXPECT_EQ(parse_int32("+74565"), 74565);
  EXPECT_EQ(parse_int32("-2147483648"), INT_MIN);
  for (const char* bad : {"", "+", "++1", " 1", "1 ", "0x10", "2147483648", "1.0", "abc"}) {
    EXPECT_FALSE(parse_int32(bad).has_value()) << bad;
  }
}

struct ParameterCase {
  std::int32_t generations, founders, males;
  // The counts, or the broken limit's message (empty: TableTooLarge).
  std::int32_t rows, dams_per_sire;
  std::string error;
};

class ParameterLimits : public ::testing::TestWithParam<ParameterCase> {};

TEST_P(ParameterLimits, CountsOrTheBrokenLimit) {
  const auto& c = GetParam();
  if (c.error.empty() && c.rows == 0) {
    EXPECT_THROW(Parameters::make(c.generations, c.founders, c.males), TableTooLarge);
  } else if (!c.error.empty()) {
    try {
      Parameters::make(c.generations, c.founders, c.males);
      FAIL() << "expected " << c.error;
    } catch (const InvalidParameters& invalid) {
      EXPECT_EQ(std::string(invalid.what()), c.error);
    }
  } else {
    const Parameters p = Parameters::make(c.generations, c.founders, c.males);
    EXPECT_EQ(p.females, c.founders - c.males);
    EXPECT_EQ(p.rows, c.rows);
    EXPECT_EQ(p.dams_per_sire, c.dams_per_sire);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParameterLimits,
    ::testing::Values(
        ParameterCase{3, 20, 5, 65, 3, ""}, ParameterCase{2, 10, 3, 24, 2, ""},
        ParameterCase{1, 10, 4, 16, 1, ""}, ParameterCase{0, 7, 7, 7, 0, ""},
        ParameterCase{0, 10, 6, 10, 0, ""},
        // The largest table whose size in bytes fits, and one row more.
        ParameterCase{0, 536870911, 1, 536870911, 536870910, ""},
        ParameterCase{0, 536870912, 1, 0, 0, ""}, ParameterCase{INT_MAX, INT_MAX, 1, 0, 0, ""},
        ParameterCase{0, 20, 0, 0, 0, "male must be at least 1 (ngen=0 n=20 male=0)"},
        ParameterCase{3, 20, -4, 0, 0, "male must be at least 1 (ngen=3 n=20 male=-4)"},
        ParameterCase{0, 3, 5, 0, 0, "n must be at least male (ngen=0 n=3 male=5)"},
        ParameterCase{-1, 20, 5, 0, 0, "ngen must not be negative (ngen=-1 n=20 male=5)"},
        ParameterCase{1, 10, 6, 0, 0,
                      "breeding needs n - male (the females) to be at least male (ngen=1 n=10 "
                      "male=6, females=4)"}),
    [](const auto& info) {
      const auto& c = info.param;
      return test::case_name(std::to_string(c.generations) + "_" + std::to_string(c.founders) +
                             "_" + std::to_string(c.males));
    });

TEST(CommandLine, OptionsAnywhereUntilADoubleDash) {
  const std::vector<std::string_view> args{"--seed", "-7", "3",         "--truth=t.txt", "-5",
                                           "--",     "8",  "--summary", "s.txt"};
  const CommandLine line = parse_command_line(args);
  EXPECT_EQ(line.settings.seed, -7);
  EXPECT_EQ(line.settings.truth, "t.txt");
  EXPECT_FALSE(line.settings.summary.has_value());
  EXPECT_EQ(line.numbers, (std::vector<std::string_view>{"3", "-5", "8", "--summary", "s.txt"}));
}

}  // namespace
}  // namespace pedsim
