#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pedsim {

// Longest text a file field can take: a blank and an 11-character value.
inline constexpr std::size_t kMaxFieldWidth = 12;

// Writes one file field at `out` and returns its length: the value
// right-justified in eight columns while its text (sign included) has at most
// seven characters, so fields always stay split by blanks; a longer text is
// written as one blank followed by the text. Values 0 to 99999 thus appear as
// three blanks and five right-justified columns.
std::size_t format_file_field(char* out, std::int32_t value);

// Longest "ped.pre" record: six fields and a line feed.
inline constexpr std::size_t kMaxPedRecord = 6 * kMaxFieldWidth + 1;

// Lays out the "ped.pre" record of one animal at `out` (room for
// kMaxPedRecord bytes) and returns its length.
std::size_t format_ped_record(char* out, std::int32_t animal, std::int32_t sire, std::int32_t dam,
                              std::int32_t sex, std::int32_t allele1, std::int32_t allele2);

// Longest "ped.errors" record: two fields and a line feed.
inline constexpr std::size_t kMaxErrorRecord = 2 * kMaxFieldWidth + 1;

// Lays out the "ped.errors" record of an altered animal at `out` (room for
// kMaxErrorRecord bytes) and returns its length.
std::size_t format_error_record(char* out, std::int32_t animal, std::int32_t old_allele);

// A console line of a label and an integer: a blank, the label, the integer
// right-justified in twelve columns, a line feed.
std::string console_line_label_int(std::string_view label, std::int64_t value);
// A console line of an integer alone, in twelve columns, and a line feed.
std::string console_line_int(std::int32_t value);

}  // namespace pedsim
