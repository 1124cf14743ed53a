#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>

#include "run/run_files.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

namespace fs = std::filesystem;
using test::ProcessOptions;
using test::read_file;
using test::run_pedsim;
using test::TempDir;

const std::vector<std::string> kTypicalRun{"12", "40", "8"};
const std::string kTypicalSeed = "-5";

std::string golden(const std::string& name) {
  return read_file(fs::path(PEDSIM_GOLDEN_DIR) / "12-40-8" / name);
}

struct WriteFailure {
  std::string name;
  std::vector<std::string> args;
  std::string file;  // linked to a device on which every write fails; "": none
  std::size_t file_size_limit;
  std::string system_text;
  std::string unit_and_file;
};

class WriteFailures : public ::testing::TestWithParam<WriteFailure> {};

TEST_P(WriteFailures, StopWithTheWriteDiagnostic) {
  const auto& c = GetParam();
  TempDir dir;
  if (!c.file.empty()) fs::create_symlink("/dev/full", dir.path() / c.file);
  ProcessOptions options{dir.path(), kTypicalSeed};
  options.file_size = c.file_size_limit;
  const auto result = run_pedsim(c.args, options);
  EXPECT_EQ(result.status, 38);
  EXPECT_EQ(result.err, "forrtl: " + c.system_text +
                            "\nforrtl: severe (38): error during write, unit " + c.unit_and_file +
                            dir.str() + "/" + (c.file.empty() ? "ped.pre" : c.file) + "\n");
  // The console lines before the failure are out; no success is reported.
  EXPECT_EQ(result.out.rfind(" ngen=", 0), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WriteFailures,
    ::testing::Values(WriteFailure{"DiskFullPedPre", kTypicalRun, "ped.pre", 0,
                                   "No space left on device", "1, file "},
                      WriteFailure{"DiskFullPedErrors", kTypicalRun, "ped.errors", 0,
                                   "No space left on device", "2, file "},
                      // 279000 rows: the records are formatted on two threads while errors
                      // are injected, and the failing write is one of theirs.
                      WriteFailure{"DiskFullOnTwoThreads",
                                   {"1", "140000", "1000"},
                                   "ped.pre",
                                   0,
                                   "No space left on device",
                                   "1, file "},
                      WriteFailure{"FileSizeLimit", kTypicalRun, "", 1024, "File too large",
                                   "1, file "}),
    [](const auto& info) { return info.param.name; });

// Every file of the table of outputs (and each index written beside one),
// as a fresh folder gets it from one run.
std::vector<std::string> every_output_file() {
  std::vector<std::string> names;
  for (const OutputKind& kind : output_kinds()) {
    names.emplace_back(kind.path != nullptr ? std::string(kind.name.substr(2)) + ".txt"
                                          : std::string(kind.name));
    if (!kind.index.empty()) names.emplace_back(kind.index);
  }
  return names;
}

// Every format of the table, for a two-allele panel.
std::string every_format() {
  std::string list;
  for (const GenotypeFormat& format : genotype_formats()) {
    list.append(list.empty() ? "" : ",").append(format.name);
  }
  return list;
}

std::string column_of(const std::string& table, const std::string& column) {
  const auto lines = test::split_lines(table);
  const auto names = test::words(lines.at(0));
  const auto at = std::find(names.begin(), names.end(), column) - names.begin();
  return test::words(lines.at(1)).at(static_cast<std::size_t>(at));
}

class EachOutputFile : public ::testing::TestWithParam<std::string> {};

// The disk fills up while one file is written: the run stops with the write
// diagnostic naming that file, puts nothing half-written in place and leaves
// run.tsv saying how it ended.
TEST_P(EachOutputFile, FailedWriteStopsTheRunNamingIt) {
  const std::string& file = GetParam();
  TempDir dir;
  ASSERT_EQ(run_pedsim({"--outdir", "bred", "5", "30", "5"}, {dir.path(), "3"}).status, 0);
  // One run writes every file but ped.errors (the design's rule, elsewhere
  // empty) and console.txt (a study's).
  std::vector<std::string> args{"--pedigree", "bred/ped.pre", "--markers", "20", "--alleles", "2",
                                "--error-model", "random-allele", "--error-rate", "0.05",
                                "--wrong-sire", "0.2", "--swap", "0.2", "--true-genotypes",
                                "--format", every_format(), "--truth", "truth.txt",
                                "--summary", "summary.txt", "--ibd", "--pairs", "parent-offspring",
                                "--outdir", "run"};
  if (file == "ped.errors") args = {"--outdir", "run", "--truth", "truth.txt", "12", "40", "8"};
  if (file == "console.txt") args = {"--replicates", "1", "--outdir", "run", "12", "40", "8"};
  const fs::path folder = dir.path() / "run" / (file == "console.txt" ? "r00000" : "");
  const bool report = file == "truth.txt" || file == "summary.txt";
  const std::string path = ((report ? dir.path() : folder) / file).lexically_normal().string();
  ProcessOptions options{dir.path(), "-5"};
  options.fail_writes_to = file;
  const auto result = run_pedsim(args, options);
  EXPECT_EQ(result.status, 38) << result.err;
  EXPECT_NE(result.err.find("forrtl: No space left on device\nforrtl: severe (38): error during "
                            "write, unit "),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find(", file " + path + "\n"), std::string::npos) << result.err;
  const bool as_formed = file == "ped.pre" || file == "ped.errors";
  EXPECT_EQ(fs::exists(path), as_formed);
  for (const fs::path& place : {dir.path(), folder}) {
    for (const auto& entry : fs::directory_iterator(place)) {
      EXPECT_EQ(entry.path().filename().string().find(".pedsim-"), std::string::npos)
          << entry.path();
    }
  }
  for (const std::string name : {"truth.txt", "summary.txt"}) {
    EXPECT_FALSE(fs::exists(dir.path() / name)) << name;
  }
  if (file != "run.tsv") {
    EXPECT_EQ(column_of(read_file(folder / "run.tsv"), "status"), "38");
  }
}

INSTANTIATE_TEST_SUITE_P(Table, EachOutputFile, ::testing::ValuesIn(every_output_file()),
                         [](const auto& info) { return test::case_name(info.param); });

struct OneThreadCase {
  std::string name;
  std::vector<std::string> args;
  std::vector<std::string> files;
};

class OneThread : public ::testing::TestWithParam<OneThreadCase> {};

// Where no thread can be started, a run gives the same bytes on one.
TEST_P(OneThread, SameBytesAsOnTwo) {
  const auto& c = GetParam();
  TempDir threaded;
  const auto expected = run_pedsim(c.args, {threaded.path(), "11"});
  ASSERT_EQ(expected.status, 0);
  TempDir dir;
  fs::permissions(dir.path(), fs::perms::all);
  ProcessOptions options{dir.path(), "11"};
  options.no_threads = true;
  const auto result = run_pedsim(c.args, options);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, expected.out);
  for (const std::string& name : c.files) {
    EXPECT_TRUE(read_file(dir.path() / name) == read_file(threaded.path() / name)) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, OneThread,
    ::testing::Values(
        // Large enough to work on two threads everywhere (breeding and loss in
        // halves, both shuffles side by side, records formatted on two threads).
        OneThreadCase{"Design", {"2", "140000", "1000"}, {"ped.pre", "ped.errors"}},
        // The VCF's compressor and indexer would wait forever for a thread
        // that could not start: they fall back to one.
        OneThreadCase{"Vcf",
                      {"--markers", "40", "--alleles", "2", "--format", "vcf", "--error-model",
                       "random-allele", "--error-rate", "0.01", "3", "2000", "200"},
                      {"ped.vcf.gz", "ped.vcf.gz.csi"}}),
    [](const auto& info) { return info.param.name; });

// An interrupted run says so, and leaves neither its unfinished report nor an
// earlier report of the same name, which described results now gone.
TEST(Faults, InterruptedRunSaysSoAndLeavesNoReport) {
  for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
    TempDir dir;
    test::write_file(dir.path() / "t.txt", "earlier truth\n");
    ProcessOptions options{dir.path(), "3"};
    options.signal = signal;
    options.signal_after_ms = 300;
    const auto result = run_pedsim({"--truth", "t.txt", "100", "200000", "20000"}, options);
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.err, "pedsim: interrupted; ped.pre and ped.errors are incomplete\n");
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"ped.errors", "ped.pre"}));
  }
}

TEST(Faults, ConsoleThatCannotBeWrittenLeavesCompleteFiles) {
  for (const bool closed : {true, false}) {
    TempDir dir;
    ProcessOptions options{dir.path(), kTypicalSeed};
    options.close_stdout = closed;
    options.broken_pipe_stdout = !closed;
    const auto result = run_pedsim(kTypicalRun, options);
    EXPECT_EQ(result.status, 0) << (closed ? "closed" : "broken pipe");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file(dir.path() / "ped.pre"), golden("ped.pre"));
    EXPECT_EQ(read_file(dir.path() / "ped.errors"), golden("ped.errors"));
  }
}

struct OpenCase {
  std::string name;
  // Prepares the folder; returns the file that must fail.
  std::function<std::string(const fs::path&)> prepare;
  int status;
  std::string system_text;
  std::string message;
};

class OpenFailures : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenFailures, NameTheUnitAndFullPath) {
  const auto& c = GetParam();
  TempDir dir;
  const std::string file = c.prepare(dir.path());
  const auto result = run_pedsim(kTypicalRun, {dir.path(), kTypicalSeed});
  const int unit = file == "ped.pre" ? 1 : 2;
  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "forrtl: " + c.system_text + "\nforrtl: severe (" +
                            std::to_string(c.status) + "): " + c.message + ", unit " +
                            std::to_string(unit) + ", file " + dir.str() + "/" + file + "\n");
  if (unit == 1) {
    EXPECT_FALSE(fs::exists(dir.path() / "ped.errors"));
  } else {
    EXPECT_EQ(read_file(dir.path() / "ped.pre"), "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, OpenFailures,
    ::testing::Values(OpenCase{"PedPreFolder",
                               [](const fs::path& d) {
                                 fs::create_directory(d / "ped.pre");
                                 return "ped.pre";
                               },
                               30, "Is a directory", "open failure"},
                      OpenCase{"PedErrorsFolder",
                               [](const fs::path& d) {
                                 fs::create_directory(d / "ped.errors");
                                 return "ped.errors";
                               },
                               30, "Is a directory", "open failure"},
                      OpenCase{"DanglingLinkIntoMissingFolder",
                               [](const fs::path& d) {
                                 fs::create_symlink(d / "missing" / "ped.pre", d / "ped.pre");
                                 return "ped.pre";
                               },
                               29, "No such file or directory", "file not found"},
                      OpenCase{"NameTooLong",
                               [](const fs::path& d) {
                                 const std::string name(300, 'x');
                                 fs::create_symlink(d / name / "ped.pre", d / "ped.pre");
                                 return "ped.pre";
                               },
                               43, "File name too long",
                               "file name speci"
                               "fication error"},
                      OpenCase{"LinkThroughAFile",
                               [](const fs::path& d) {
                                 test::write_file(d / "plain", "x");
                                 fs::create_symlink(d / "plain" / "ped.errors", d / "ped.errors");
                                 return "ped.errors";
                               },
                               43, "Not a directory",
                               "file name speci"
                               "fication error"}),
    [](const auto& info) { return info.param.name; });

TEST(Faults, RemovedWorkingDirectoryIsNamedByItsFormerPath) {
  TempDir parent;
  const fs::path dir = parent.path() / "gone";
  fs::create_directory(dir);
  ProcessOptions options{dir, kTypicalSeed};
  options.remove_cwd = true;
  const auto result = run_pedsim(kTypicalRun, options);
  EXPECT_EQ(result.status, 29);
  EXPECT_EQ(
      result.err,
      "forrtl: No such file or directory\nforrtl: severe (29): file not found, unit 1, file " +
          dir.string() + "/ped.pre\n");
}

TEST(Faults, FolderThatRefusesNewFiles) {
  // Root may create files almost anywhere; /sys refuses them to everyone.
  if (!fs::exists("/sys/kernel")) GTEST_SKIP() << "no /sys";
  const auto result = run_pedsim(kTypicalRun, {"/sys", kTypicalSeed});
  EXPECT_EQ(result.status, 9);
  EXPECT_EQ(result.err,
            "forrtl: Permission denied\nforrtl: severe (9): permission to access file denied, "
            "unit 1, file /sys/ped.pre\n");
}

TEST(Faults, MemoryThatCannotBeHadStopsWithTheAllocationDiagnostic) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
  TempDir dir;
  ProcessOptions options{dir.path(), "1"};
  options.address_space = std::size_t{300} << 20;
  // 11.5 million rows: a table of 460 MB.
  const auto result = run_pedsim({"5", "2000000", "100000"}, options);
  EXPECT_EQ(result.status, 41);
  EXPECT_EQ(result.err, "forrtl: severe (41): insufficient virtual memory\n");
  EXPECT_EQ(read_file(dir.path() / "ped.pre"), "");
}

}  // namespace
}  // namespace pedsim
