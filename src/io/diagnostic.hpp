#pragma once

#include <string>
#include <string_view>

#include "pedsim/simulation.hpp"

namespace pedsim {

// Severe diagnostic codes and the unit numbers that name the output files.
namespace code {
inline constexpr int kPermissionDenied = 9;
inline constexpr int kCannotOverwrite = 10;
inline constexpr int kEndOfFile = 24;
inline constexpr int kFileNotFound = 29;
inline constexpr int kOpenFailure = 30;
inline constexpr int kWriteError = 38;
inline constexpr int kNoMemory = 41;
inline constexpr int kNoSuchDevice = 42;
inline constexpr int kFileNameError = 43;
inline constexpr int kSyntaxError = 59;
inline constexpr int kConversionError = 64;
inline constexpr int kSizeOverflow = 179;
// The exit status of pedsim's own usage errors ("pedsim: ..." lines).
inline constexpr int kUsage = 2;
// The exit status of a failure no run should meet.
inline constexpr int kInternalError = 70;
}  // namespace code

namespace unit {
inline constexpr int kPedPre = 1;
inline constexpr int kPedErrors = 2;
inline constexpr int kTruth = 3;
inline constexpr int kSummary = 4;
inline constexpr int kRunRow = 5;
inline constexpr int kConsoleCopy = 6;
inline constexpr int kReplicateTable = 7;
inline constexpr int kStudyManifest = 8;
inline constexpr int kTrueGenotypes = 9;
inline constexpr int kErrorTable = 10;
inline constexpr int kPlink = 11;
inline constexpr int kPlinkText = 12;
inline constexpr int kVcf = 13;
inline constexpr int kIds = 14;
inline constexpr int kPedigreeTruth = 15;
inline constexpr int kSegments = 16;
inline constexpr int kKinship = 17;
inline constexpr int kPairs = 18;
inline constexpr int kBcf = 19;
inline constexpr int kArgument = -5;
}  // namespace unit

inline constexpr std::string_view kArgumentFileName = "Internal List-Directed Read";

// The severe diagnostic line of `code` (with unit and file filled into its
// message where it has them), preceded by a "forrtl: " line with the system's
// text when `sys_errno` is not 0.
std::string severe_text(int code, int unit, std::string_view file, int sys_errno);

// Throws the severe diagnostic `code`; its exit status is the code.
[[noreturn]] void stop_with_diagnostic(int code, int unit = 0, std::string_view file = {},
                                       int sys_errno = 0);

// Throws a usage error: one line "pedsim: <message>", exit status 2.
[[noreturn]] void stop_usage(std::string_view message);

// The code of a failed file creation, from the system's error number.
int open_failure_code(int sys_errno);

}  // namespace pedsim
