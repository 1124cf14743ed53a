#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "io/buffered_writer.hpp"
#include "io/whole_file.hpp"
#include "io/diagnostic.hpp"
#include "formats/design_records.hpp"
#include "platform/code_columns.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

struct FieldCase {
  std::int32_t value;
  std::string text;
};

class FileField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(FileField, RightJustifiedInEightColumnsOrWidened) {
  char out[kMaxFieldWidth];
  const auto length = format_file_field(out, GetParam().value);
  EXPECT_EQ(std::string(out, length), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FileField,
    ::testing::Values(FieldCase{0, "       0"}, FieldCase{7, "       7"},
                      FieldCase{99999, "   99999"}, FieldCase{100000, "  100000"},
                      FieldCase{9999999, " 9999999"}, FieldCase{10000000, " 10000000"},
                      FieldCase{12345678, " 12345678"}, FieldCase{99999999, " 99999999"},
                      FieldCase{100000000, " 100000000"}, FieldCase{INT_MAX, " 2147483647"},
                      FieldCase{-1, "      -1"}, FieldCase{-9999, "   -9999"},
                      FieldCase{-999999, " -999999"}, FieldCase{-1000000, " -1000000"},
                      FieldCase{INT_MIN, " -2147483648"}));

// Every value that fits in seven digits, and every 997th of eight digits,
// against a plain digit-by-digit layout: the fields are built a word at a
// time.
TEST(FileFieldAllSevenDigitValues, MatchPlainLayout) {
  char out[kMaxFieldWidth];
  char expected[kMaxFieldWidth];
  for (std::int32_t v = 0; v < 100000000; v += v < 10000000 ? 1 : 997) {
    const std::size_t width = v < 10000000 ? 8 : 9;
    std::memset(expected, ' ', width);
    char* p = expected + width;
    for (std::int32_t rest = v; p == expected + width || rest != 0; rest /= 10)
      *--p = char('0' + rest % 10);
    ASSERT_EQ(format_file_field(out, v), width);
    ASSERT_EQ(std::memcmp(out, expected, width), 0) << v;
  }
}

TEST(ConsoleLines, LabelAndInteger) {
  EXPECT_EQ(console_line_label_int("ngen=", 3), " ngen=           3\n");
  EXPECT_EQ(console_line_label_int("generation ", 1), " generation            1\n");
  EXPECT_EQ(console_line_label_int("n=", -2147483647 - 1), " n= -2147483648\n");
  const std::string founders = console_line_label_int("n\xB0 of founders=", 20);
  EXPECT_EQ(founders.size(), 29U);
  EXPECT_EQ(static_cast<unsigned char>(founders[2]), 0xB0);
  EXPECT_EQ(founders, " n\xB0 of founders=          20\n");
}

TEST(ConsoleLines, IntegerAlone) {
  EXPECT_EQ(console_line_int(57), "          57\n");
  EXPECT_EQ(console_line_int(-57), "         -57\n");
  EXPECT_EQ(console_line_int(INT_MAX), "  2147483647\n");
}

TEST(Records, LaidOutForBothFiles) {
  char out[kMaxPedRecord];
  EXPECT_EQ(std::string(out, format_ped_record(out, 7, 0, 0, 1, 1, 3)),
            "       7       0       0       1       1       3\n");
  EXPECT_EQ(std::string(out, format_ped_record(out, 100000, 100001, 99999, 2, 4, 2)),
            "  100000  100001   99999       2       4       2\n");
  // Tables of ten million rows and more widen the fields of eight digits.
  EXPECT_EQ(std::string(out, format_ped_record(out, 12345678, 9999999, 10000000, 1, 0, 0)),
            " 12345678 9999999 10000000       1       0       0\n");
  EXPECT_EQ(std::string(out, format_ped_record(out, 99999999, 100000000, 3, 2, -1, 3)),
            " 99999999 100000000       3       2      -1       3\n");
  EXPECT_EQ(std::string(out, format_error_record(out, 23, 2)), "      23       2\n");
  EXPECT_EQ(std::string(out, format_error_record(out, 87654321, 1)), " 87654321       1\n");
}

// Records gathered in a buffer reach the sink in order, in blocks of at most
// the block size once the buffer has grown to it.
TEST(BufferedWriter, HandsOverEverythingInOrderInBlocks) {
  struct Blocks : ByteSink {
    void write(std::string_view bytes) override { sizes.push_back(bytes.size()), text += bytes; }
    std::vector<std::size_t> sizes;
    std::string text;
  } sink;
  std::string expected;
  {
    BufferedWriter writer(sink, 1000);
    for (int i = 0; i < 500; ++i) {
      const std::string line = std::to_string(i) + "\n";
      writer.write(line);
      expected += line;
    }
  }
  EXPECT_EQ(sink.text, expected);
  for (const std::size_t size : sink.sizes) EXPECT_LE(size, 1000U);
  EXPECT_GT(sink.sizes.size(), 1U);
}

TEST(Diagnostics, SevereLinesFillUnitAndFile) {
  EXPECT_EQ(severe_text(59, -5, "Internal List-Directed Read", 0),
            "forrtl: severe (59): list-directed I/O syntax error, unit -5, file Internal "
            "List-Directed Read\n");
  EXPECT_EQ(severe_text(64, -5, "Internal List-Directed Read", 0),
            "forrtl: severe (64): input conversion error, unit -5, file Internal List-Directed "
            "Read\n");
  EXPECT_EQ(severe_text(38, 2, "/x/ped.errors", ENOSPC),
            "forrtl: No space left on device\nforrtl: severe (38): error during write, unit 2, "
            "file /x/ped.errors\n");
  EXPECT_EQ(severe_text(41, 0, "", 0), "forrtl: severe (41): insufficient virtual memory\n");
  for (int c : {9, 10, 29, 42, 43}) {
    EXPECT_NE(severe_text(c, 1, "/p", 0).find(", unit 1, file /p\n"), std::string::npos) << c;
  }
}

}  // namespace
}  // namespace pedsim

// The .bed turn of 64 rows of two-bit codes, with and without the bit-matrix
// instructions, against each code placed one at a time.
TEST(CodeColumns, EachCodeLandsInItsColumnByte) {
  std::mt19937_64 random(5);
  for (const auto& [count, bytes] : {std::pair<std::size_t, std::size_t>{64, 16}, {37, 5}}) {
    std::array<std::uint64_t, 64> low{};
    std::array<std::uint64_t, 64> high{};
    for (auto& w : low) w = random();
    for (auto& w : high) w = random();
    std::vector<char> expected(64 * 20, 0x55);
    for (std::size_t k = 0; k < count; ++k) {
      for (std::size_t row = 0; row < 4 * bytes; ++row) {
        const int code = static_cast<int>(((low[row] >> k) & 1) | ((high[row] >> k) & 1) << 1);
        auto& byte = expected[k * 20 + row / 4];
        if (row % 4 == 0) byte = 0;
        byte = static_cast<char>(byte | code << (2 * (row % 4)));
      }
    }
    for (const auto write : {pedsim::write_code_columns, pedsim::write_code_columns_portable}) {
      std::vector<char> out(64 * 20, 0x55);
      write(low.data(), high.data(), count, out.data(), 20, bytes);
      EXPECT_EQ(out, expected) << count;
    }
  }
}

namespace pedsim {
namespace {

// A new file another live run is writing is not a killed run's leftover:
// a run starting beside it leaves it alone; once its writer is gone
// without putting it in place, it is removed.
TEST(WholeFiles, ALiveRunsNewFileIsNotTakenForALeftover) {
  test::TempDir dir;
  std::string left;
  {
    WholeFile writing;
    writing.aim(dir.str(), "truth.txt", 3, Links::kReplace);
    writing.create();
    writing.write("animal\n");
    EXPECT_TRUE(remove_unfinished_files(dir.str(), {"truth.txt"}, {}).empty());
    left = writing.new_path();
    ASSERT_EQ(::link(left.c_str(), (left + "X").c_str()), 0);
  }
  ASSERT_EQ(::rename((left + "X").c_str(), left.c_str()), 0);
  EXPECT_EQ(remove_unfinished_files(dir.str(), {"truth.txt"}, {}).size(), 1U);
}

}  // namespace
}  // namespace pedsim
