#include "formats/design_records.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cstring>

namespace pedsim {

namespace {

constexpr std::size_t kFieldColumns = 8;
constexpr int kConsoleIntColumns = 12;

void append_right_justified(std::string& out, std::int64_t value, int columns) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  const auto length = static_cast<int>(end - digits);
  if (length < columns) out.append(static_cast<std::size_t>(columns - length), ' ');
  out.append(digits, end);
}

static_assert(std::endian::native == std::endian::little,
              "fields are built as little-endian words");

// The four decimal digits, as characters, of every number below 10000, the
// first digit in the lowest byte (the first in memory).
constexpr std::array<std::uint32_t, 10000> kFourDigits = [] {
  std::array<std::uint32_t, 10000> table{};
  for (std::uint32_t v = 0; v < 10000; ++v) {
    table[v] = ('0' + v / 1000) | ('0' + v / 100 % 10) << 8 | ('0' + v / 10 % 10) << 16 |
               ('0' + v % 10) << 24;
  }
  return table;
}();

// The eight decimal digits, as characters, of v < 10^8, the first in the
// lowest byte.
std::uint64_t decimal_digit_bytes(std::uint32_t v) {
  return kFourDigits[v / 10000] | std::uint64_t{kFourDigits[v % 10000]} << 32;
}

// Values below this fit in eight columns with a blank in front.
constexpr std::uint32_t kCommonFieldLimit = 10000000;

// The eight columns of a field in the common range as one word: the digits
// with their leading zeros (all but the last) turned into blanks. A single
// digit, the commonest field, needs no division.
std::uint64_t common_field(std::uint32_t v) {
  constexpr std::uint64_t kBlanks = 0x2020202020202020ULL;
  if (v < 10) return (kBlanks >> 8) | (std::uint64_t{'0' + v} << 56);
  const std::uint64_t digits = decimal_digit_bytes(v);
  const int leading_zeros = std::countr_zero(digits ^ 0x3030303030303030ULL) / 8;
  const std::uint64_t blanks = (std::uint64_t{1} << (8 * leading_zeros)) - 1;
  return (digits & ~blanks) | (kBlanks & blanks);
}

bool is_common_field(std::int32_t value) {
  return static_cast<std::uint32_t>(value) < kCommonFieldLimit;
}

// Values from kCommonFieldLimit up to this have eight digits: a blank and the
// digits make their field (the row numbers of tables of ten million rows and
// more).
constexpr std::uint32_t kEightDigitLimit = 100000000;

// Writes the field of `value` and returns its width.
std::size_t write_field(char* out, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  if (v < kCommonFieldLimit) {
    const std::uint64_t field = common_field(v);
    std::memcpy(out, &field, sizeof field);
    return kFieldColumns;
  }
  if (v < kEightDigitLimit) {
    const std::uint64_t digits = decimal_digit_bytes(v);
    out[0] = ' ';
    std::memcpy(out + 1, &digits, sizeof digits);
    return kFieldColumns + 1;
  }
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  const auto length = static_cast<std::size_t>(end - digits);
  const std::size_t width = length < kFieldColumns ? kFieldColumns : length + 1;
  std::memset(out, ' ', width - length);
  std::memcpy(out + (width - length), digits, length);
  return width;
}

}  // namespace

std::size_t format_file_field(char* out, std::int32_t value) { return write_field(out, value); }

std::size_t format_ped_record(char* out, std::int32_t animal, std::int32_t sire, std::int32_t dam,
                              std::int32_t sex, std::int32_t allele1, std::int32_t allele2) {
  if (is_common_field(animal) && is_common_field(sire) && is_common_field(dam) &&
      is_common_field(sex) && is_common_field(allele1) && is_common_field(allele2)) {
    // Each field is stored straight from its word; gathering them first
    // and copying the record would read back what was just written.
    const std::int32_t values[6] = {animal, sire, dam, sex, allele1, allele2};
    for (std::size_t f = 0; f < 6; ++f) {
      const std::uint64_t field = common_field(static_cast<std::uint32_t>(values[f]));
      std::memcpy(out + f * kFieldColumns, &field, sizeof field);
    }
    out[6 * kFieldColumns] = '\n';
    return 6 * kFieldColumns + 1;
  }
  char* p = out;
  p += write_field(p, animal);
  p += write_field(p, sire);
  p += write_field(p, dam);
  p += write_field(p, sex);
  p += write_field(p, allele1);
  p += write_field(p, allele2);
  *p++ = '\n';
  return static_cast<std::size_t>(p - out);
}

std::size_t format_error_record(char* out, std::int32_t animal, std::int32_t old_allele) {
  char* p = out;
  p += write_field(p, animal);
  p += write_field(p, old_allele);
  *p++ = '\n';
  return static_cast<std::size_t>(p - out);
}

std::string console_line_label_int(std::string_view label, std::int64_t value) {
  std::string line(" ");
  line += label;
  append_right_justified(line, value, kConsoleIntColumns);
  line += '\n';
  return line;
}

std::string console_line_int(std::int32_t value) {
  std::string line;
  append_right_justified(line, value, kConsoleIntColumns);
  line += '\n';
  return line;
}

}  // namespace pedsim
