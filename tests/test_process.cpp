#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <set>
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

// What a run leaves of a file that held an earlier run's results.
enum class Left { kUnchanged, kReplaced, kAbsent, kAny };

struct FolderCase {
  std::string name;
  std::vector<std::string> args;
  int status;
  // Standard output and error; DIR stands for the folder's path.
  std::string out;
  std::string err;
  // What is left of ped.pre, ped.errors, t.txt and s.txt.
  std::array<Left, 4> left{Left::kUnchanged, Left::kUnchanged, Left::kUnchanged, Left::kUnchanged};
  // PEDSIM_SEED; "" leaves it unset.
  std::string seed = "1";
  // Another run holds the lock of ped.pre.
  bool locked = false;
  // ped.pre is a link to a device on which every write fails.
  bool pre_on_full_device = false;
};

class RunInAUsedFolder : public ::testing::TestWithParam<FolderCase> {};

std::string with_dir(std::string text, const TempDir& dir) {
  for (std::size_t at; (at = text.find("DIR")) != std::string::npos;)
    text.replace(at, 3, dir.str());
  return text;
}

// Each run starts in a folder holding an earlier run's ped.pre, ped.errors
// and reports t.txt and s.txt: a run replaces them only once its arguments
// are known good, and leaves no report that describes results it lost.
TEST_P(RunInAUsedFolder, StatusMessagesAndWhatIsLeft) {
  const auto& c = GetParam();
  TempDir dir;
  const std::vector<std::pair<std::string, Left>> files{{"ped.pre", c.left[0]},
                                                        {"ped.errors", c.left[1]},
                                                        {"t.txt", c.left[2]},
                                                        {"s.txt", c.left[3]}};
  for (const auto& [name, left] : files)
    test::write_file(dir.path() / name, "earlier " + name + "\n");
  if (c.pre_on_full_device) {
    fs::remove(dir.path() / "ped.pre");
    fs::create_symlink("/dev/full", dir.path() / "ped.pre");
  }
  const int lock = ::open((dir.path() / "ped.pre").c_str(), O_RDONLY);
  if (c.locked) {
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
  }
  const auto result =
      run_pedsim(c.args, {dir.path(), c.seed.empty() ? std::nullopt : std::optional(c.seed)});
  ::close(lock);
  EXPECT_EQ(result.status, c.status);
  if (c.status == 0) {
    EXPECT_EQ(result.out.rfind(c.out.empty() ? " ngen=" : c.out, 0), 0U);
  } else {
    EXPECT_EQ(result.out, c.out);
  }
  EXPECT_EQ(result.err, with_dir(c.err, dir));
  for (const auto& [name, left] : files) {
    const fs::path path = dir.path() / name;
    const std::string earlier = "earlier " + name + "\n";
    switch (left) {
      case Left::kAbsent:
        EXPECT_FALSE(fs::exists(path)) << name;
        break;
      case Left::kUnchanged:
        EXPECT_EQ(read_file(path), earlier) << name;
        break;
      case Left::kReplaced:
        EXPECT_NE(read_file(path), earlier) << name;
        break;
      case Left::kAny:
        break;
    }
  }
  // No unfinished report is ever left behind.
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".pedsim-"), std::string::npos) << entry.path();
  }
}

const std::string kArgumentFile = "unit -5, file Internal List-Directed Read\n";
const std::string kEchoed = " ngen=           3\n n=          20\n male=           5\n";
constexpr Left kNew = Left::kReplaced;

// Unless a case says otherwise, every earlier file is left unchanged.
INSTANTIATE_TEST_SUITE_P(
    Table, RunInAUsedFolder,
    ::testing::Values(
        FolderCase{"NoArguments",
                   {},
                   24,
                   "",
                   "forrtl: severe (24): end-of-file during read, " + kArgumentFile +
                       "pedsim: usage: pedsim [--seed T] [--truth FILE] [--summary FILE] NGEN N "
                       "MALE (see pedsim --help)\n"},
        FolderCase{"ThirdMissing",
                   {"--truth", "t.txt", "3", "20"},
                   24,
                   " ngen=           3\n n=          20\n",
                   "forrtl: severe (24): end-of-file during read, " + kArgumentFile +
                       "pedsim: the third argument, MALE, is missing; expected an integer\n"},
        FolderCase{"NotANumber",
                   {"abc", "20", "5"},
                   59,
                   "",
                   "forrtl: severe (59): list-directed I/O syntax error, " + kArgumentFile +
                       "pedsim: the first argument, NGEN, is 'abc', not a number; expected an "
                       "integer\n"},
        FolderCase{"NotA32BitInteger",
                   {"3", "99999999999", "5"},
                   64,
                   " ngen=           3\n",
                   "forrtl: severe (64): input conversion error, " + kArgumentFile +
                       "pedsim: the second argument, N, is '99999999999', not a 32-bit integer; "
                       "expected a whole number from -2147483648 to 2147483647\n"},
        FolderCase{"NoMales",
                   {"--summary", "s.txt", "3", "20", "0"},
                   2,
                   " ngen=           3\n n=          20\n male=           0\n",
                   "pedsim: male must be at least 1 (ngen=3 n=20 male=0)\n"},
        FolderCase{"TableTooLarge",
                   {"1", "2000000000", "1"},
                   179,
                   " ngen=           1\n n=  2000000000\n male=           1\n",
                   "forrtl: severe (179): Cannot allocate array - overflow on array size "
                   "calculation.\n"},
        FolderCase{.name = "SeedVariableNotAnInteger",
                   .args = {"3", "20", "5"},
                   .status = 2,
                   .out = kEchoed,
                   .err = "pedsim: PEDSIM_SEED must be a decimal 32-bit signed integer, got "
                          "'abc'\n",
                   .seed = "abc"},
        FolderCase{"UnknownOption",
                   {"3", "20", "5", "--frobnicate"},
                   2,
                   "",
                   "pedsim: unknown option '--frobnicate' (see --help)\n"},
        FolderCase{"MisspeltOption",
                   {"3", "20", "5", "--eror-rate", "0.1"},
                   2,
                   "",
                   "pedsim: unknown option '--eror-rate'; did you mean --error-rate? (see "
                   "--help)\n"},
        FolderCase{"OptionWithoutValue",
                   {"3", "20", "5", "--truth"},
                   2,
                   "",
                   "pedsim: option --truth needs a value\n"},
        FolderCase{"SeedOptionNotAnInteger",
                   {"--seed", "2147483648", "3", "20", "5"},
                   2,
                   "",
                   "pedsim: --seed must be a decimal 32-bit signed integer, got '2147483648'\n"},
        FolderCase{"HelpAfterTheNumbers", {"3", "20", "5", "--help"}, 0, "usage: pedsim", ""},
        FolderCase{"NegativeNumberIsANumber",
                   {"-1", "20", "5"},
                   2,
                   " ngen=          -1\n n=          20\n male=           5\n",
                   "pedsim: ngen must not be negative (ngen=-1 n=20 male=5)\n"},
        FolderCase{"ReportNamesPedPre",
                   {"--truth", "./ped.pre", "3", "20", "5"},
                   2,
                   "",
                   "pedsim: --truth ./ped.pre names the same file as ped.pre; give each file of a "
                   "run a name of its own\n"},
        FolderCase{"ReportsNameOneFile",
                   {"--truth", "t.txt", "--summary", "sub/../t.txt", "3", "20", "5"},
                   2,
                   "",
                   "pedsim: --summary sub/../t.txt names the same file as --truth t.txt; give "
                   "each file of a run a name of its own\n"},
        FolderCase{"ReportInAMissingFolder",
                   {"--truth", "nodir/t.txt", "3", "20", "5"},
                   29,
                   "",
                   "forrtl: No such file or directory\nforrtl: severe (29): file not found, unit "
                   "3, file DIR/nodir/t.txt\n"},
        FolderCase{.name = "AnotherRunWriting",
                   .args = {"--truth", "t.txt", "3", "20", "5"},
                   .status = 2,
                   .out = kEchoed,
                   .err = "pedsim: another pedsim run is writing DIR/ped.pre; wait for it to "
                          "end, or run in another folder\n",
                   .locked = true},
        FolderCase{.name = "FailedWriteRemovesReports",
                   .args = {"--truth", "t.txt", "12", "40", "8"},
                   .status = 38,
                   .out = read_file(fs::path(PEDSIM_GOLDEN_DIR) / "12-40-8" / "stdout"),
                   .err = "forrtl: No space left on device\nforrtl: severe (38): error during "
                          "write, unit 1, file DIR/ped.pre\n",
                   .left = {Left::kAny, kNew, Left::kAbsent, Left::kUnchanged},
                   .seed = "-5",
                   .pre_on_full_device = true},
        FolderCase{.name = "MarkerFileMissing",
                   .args = {"--marker-file", "map.tsv", "3", "20", "5"},
                   .status = 2,
                   .out = kEchoed,
                   .err = "pedsim: cannot read marker file map.tsv: No such file or directory\n"},
        FolderCase{.name = "MinorAlleleRangeNeedsTwoAlleles",
                   .args = {"--frequencies", "maf:0.1-0.3", "3", "20", "5"},
                   .status = 2,
                   .out = kEchoed,
                   .err = "pedsim: maf: frequencies are for two-allele markers (--alleles 2)\n"},
        FolderCase{.name = "MoreChromosomesThanMarkers",
                   .args = {"--markers", "2", "--chromosomes", "3", "3", "20", "5"},
                   .status = 2,
                   .out = kEchoed,
                   .err = "pedsim: the markers are spread over 1 to 2 chromosomes (one marker "
                          "each at least), got 3\n"},
        FolderCase{.name = "PedigreeWithNumbers",
                   .args = {"--pedigree", "herd.txt", "3", "20", "5"},
                   .status = 2,
                   .out = "",
                   .err = "pedsim: --pedigree takes the place of NGEN N MALE; give one or the "
                          "other\n"},
        FolderCase{.name = "PedigreeMissing",
                   .args = {"--pedigree", "herd.txt"},
                   .status = 2,
                   .out = "",
                   .err = "pedsim: cannot read pedigree file herd.txt: No such file or "
                          "directory\n"},
        FolderCase{.name = "UnknownFormat",
                   .args = {"--format", "pre,bed", "3", "20", "5"},
                   .status = 2,
                   .out = "",
                   .err = "pedsim: --format takes a comma-separated list of pre, plink, "
                          "plink-text, vcf or bcf, got 'pre,bed'\n"},
        FolderCase{
            .name = "PlinkWithThreeAlleles",
            .args = {"--format", "plink", "3", "20", "5"},
            .status = 2,
            .out = kEchoed,
            .err = "pedsim: --format plink holds 2 alleles per marker, and these markers "
                   "have 3 (--alleles); write --format pre, plink-text, vcf or bcf, which hold "
                   "them\n"},
        FolderCase{.name = "PlinkWithTheDesignErrorRule",
                   .args = {"--format", "plink", "--markers", "9", "--alleles", "2",
                            "--error-model", "design", "3", "20", "5"},
                   .status = 2,
                   .out = kEchoed,
                   .err = "pedsim: --format plink holds 2 alleles per marker, and --error-model "
                          "design records allele 3 on a 2-allele marker; add --error-rate E, or "
                          "--error-model none, random-allele, dropout or matrix:FILE, or write "
                          "--format pre, plink-text, vcf or bcf\n"},
        FolderCase{.name = "ReportNamesTheVcfIndex",
                   .args = {"--format", "vcf", "--truth", "ped.vcf.gz.csi", "3", "20", "5"},
                   .status = 2,
                   .out = "",
                   .err = "pedsim: --truth ped.vcf.gz.csi names the same file as ped.vcf.gz.csi; "
                          "give each file of a run a name of its own\n"},
        // ped.pre is the user's when the run is not asked to write it; the
        // run says that it does not describe this run.
        FolderCase{.name = "VcfAloneLeavesPedPre",
                   .args = {"--format", "vcf", "--truth", "t.txt", "3", "20", "5"},
                   .status = 0,
                   .out = "",
                   .err = "pedsim: warning: this run does not write DIR/ped.pre, which is from "
                          "before it and does not describe it\n",
                   .left = {Left::kUnchanged, kNew, kNew, Left::kUnchanged}},
        FolderCase{.name = "OptionsAfterTheNumbers",
                   .args = {"3", "20", "5", "--summary=s.txt"},
                   .status = 0,
                   .out = "",
                   .err = "",
                   .left = {kNew, kNew, Left::kUnchanged, kNew}},
        FolderCase{.name = "OptionsEndAtDoubleDash",
                   .args = {"--truth", "t.txt", "--", "3", "20", "5", "--summary", "s.txt"},
                   .status = 0,
                   .out = "",
                   .err = "",
                   .left = {kNew, kNew, kNew, Left::kUnchanged}}),
    [](const auto& info) { return info.param.name; });

// --quiet keeps the argument echo and the two count lines; the files are
// the reference's.
TEST(Process, QuietConsoleKeepsTheCountsAndTheFiles) {
  for (const auto& name : test::kGoldenCases) {
    const auto golden = test::golden_case(name);
    std::vector<std::string> args{"--quiet"};
    args.insert(args.end(), golden.args.begin(), golden.args.end());
    TempDir dir;
    const auto result = run_pedsim(args, {dir.path(), golden.seed});
    EXPECT_EQ(result.status, 0);
    std::string expected;
    for (const auto& line : test::split_lines(read_file(golden.dir / "stdout"))) {
      if (line.find('=') != std::string::npos && line.find("generation") == std::string::npos) {
        expected += line + "\n";
      }
    }
    EXPECT_EQ(result.out, expected) << name;
    EXPECT_EQ(read_file(dir.path() / "ped.pre"), read_file(golden.dir / "ped.pre"));
    EXPECT_EQ(read_file(dir.path() / "ped.errors"), read_file(golden.dir / "ped.errors"));
  }
}

// A panel's files agree with each other and with the run without one: the
// pedigree columns (and with the design's marker model, marker 1) are the
// reference's; ped.errors lists exactly the genotypes whose recorded first
// allele differs from true.pre's, with that allele; the console counts them
// and the animals with one.
std::string right_justified(std::size_t value) {
  std::string text = std::to_string(value);
  return std::string(text.size() < 12 ? 12 - text.size() : 0, ' ') + text;
}

TEST(Process, PanelFilesAgreeWithEachOtherAndTheDesignRun) {
  const auto golden = test::golden_case("12-40-8");
  const auto reference = test::split_lines(read_file(golden.dir / "ped.pre"));
  for (const auto& [markers, alleles] : {std::pair{"4", "2"}, std::pair{"3", "3"}}) {
    TempDir dir;
    std::vector<std::string> args{"--markers",
                                  markers,
                                  "--alleles",
                                  alleles,
                                  "--error-model",
                                  "design",
                                  "--missing-model",
                                  "design",
                                  "--true-genotypes",
                                  "--outdir",
                                  "o"};
    args.insert(args.end(), golden.args.begin(), golden.args.end());
    const auto result = run_pedsim(args, {dir.path(), golden.seed});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto recorded = test::split_lines(read_file(dir.path() / "o" / "ped.pre"));
    const auto truth = test::split_lines(read_file(dir.path() / "o" / "true.pre"));
    ASSERT_EQ(recorded.size(), reference.size());
    ASSERT_EQ(truth.size(), reference.size());
    const bool design_first = std::string(alleles) == "3";
    const std::size_t kept = design_first ? 6 : 4;
    std::set<std::pair<std::string, std::string>> differing;
    std::set<std::string> altered_animals;
    for (std::size_t r = 0; r < reference.size(); ++r) {
      const auto want = test::words(reference[r]);
      const auto got = test::words(recorded[r]);
      const auto real = test::words(truth[r]);
      ASSERT_EQ(got.size(), 4 + 2 * std::stoul(markers));
      ASSERT_TRUE(std::equal(want.begin(), want.begin() + kept, got.begin())) << recorded[r];
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + 4, real.begin()));
      for (std::size_t m = 0; 4 + 2 * m < got.size(); ++m) {
        if (got[4 + 2 * m] == "0" || got[4 + 2 * m] == real[4 + 2 * m]) continue;
        differing.insert(
            {got[0] + " " + real[4 + 2 * m], std::string("m").append(std::to_string(m + 1))});
        altered_animals.insert(got[0]);
      }
    }
    std::set<std::pair<std::string, std::string>> listed;
    for (const auto& line : test::split_lines(read_file(dir.path() / "o" / "ped.errors"))) {
      const auto fields = test::words(line);
      ASSERT_EQ(fields.size(), 3U) << line;
      listed.insert({fields[0] + " " + fields[1], fields[2]});
    }
    EXPECT_EQ(listed, differing);
    EXPECT_FALSE(listed.empty());
    EXPECT_NE(
        result.out.find(" altered genotypes=" + right_justified(differing.size()) +
                        "\n altered animals=" + right_justified(altered_animals.size()) + "\n"),
        std::string::npos)
        << result.out;
    EXPECT_NE(read_file(dir.path() / "o" / "run.tsv").find(std::string("markers=").append(markers)),
              std::string::npos);
  }
}

// Each replicate's folder holds the files of the formats asked for, and the
// study records them; a study asked for other formats is refused.
TEST(Process, StudyWritesTheFormatsInEachReplicate) {
  TempDir dir;
  std::vector<std::string> args{
      "--replicates", "2",  "--outdir",  "s", "--format",      "plink,vcf",     "--true-genotypes",
      "--markers",    "70", "--alleles", "2", "--error-model", "random-allele", "--error-rate",
      "0.01",         "3",  "60",        "6"};
  const auto result = run_pedsim(args, {dir.path(), "4"});
  ASSERT_EQ(result.status, 0) << result.err;
  for (const std::string folder : {"r00000", "r00001"}) {
    for (const std::string name :
         {"ped.bed", "ped.bim", "ped.fam", "ped.vcf.gz", "ped.vcf.gz.csi", "true.bed",
          "true.vcf.gz", "true.vcf.gz.csi", "ped.errors", "errors.tsv", "run.tsv"}) {
      EXPECT_TRUE(fs::exists(dir.path() / "s" / folder / name)) << folder << "/" << name;
    }
    EXPECT_FALSE(fs::exists(dir.path() / "s" / folder / "ped.pre"));
    // 60 + 3 x 54 animals, four to a byte, 70 markers, after three magic bytes.
    EXPECT_EQ(fs::file_size(dir.path() / "s" / folder / "ped.bed"),
              3 + 70 * ((60 + 3 * 54 + 3) / 4));
  }
  EXPECT_NE(read_file(dir.path() / "s" / "study.tsv").find("\nformats\tplink,vcf\n"),
            std::string::npos);
  args[5] = "vcf";
  const auto other = run_pedsim(args, {dir.path(), "4"});
  EXPECT_EQ(other.status, 2);
  EXPECT_NE(other.err.find("formats plink,vcf there, vcf here"), std::string::npos) << other.err;
}

// A study drops each replicate's markers onto the same supplied pedigree,
// its pedigree errors drawn anew.
TEST(Process, StudyOnASuppliedPedigree) {
  TempDir dir;
  test::write_file(dir.path() / "herd.txt",
                   "animal sire dam\nb 0 0\nc 0 0\nk1 b c\nk2 b c\nd 0 0\nk3 d c\n");
  const auto result = run_pedsim({"--pedigree", "herd.txt", "--replicates", "2", "--outdir", "s",
                                  "--wrong-sire", "0.5", "--markers", "5"},
                                 {dir.path(), "6"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(read_file(dir.path() / "s" / "study.tsv").find("\npedigree\therd.txt\n"),
            std::string::npos);
  std::set<std::string> truths;
  for (const std::string folder : {"r00000", "r00001"}) {
    EXPECT_EQ(read_file(dir.path() / "s" / folder / "ids.tsv"),
              "number\tname\n1\tb\n2\tc\n3\td\n4\tk1\n5\tk2\n6\tk3\n");
    truths.insert(read_file(dir.path() / "s" / folder / "pedigree_truth.tsv"));
  }
  EXPECT_EQ(truths.size(), 2U);
  // The table counts the pedigree errors, and collect rebuilds it alike.
  const std::string table = read_file(dir.path() / "s" / "replicates.tsv");
  EXPECT_NE(table.find("\twrong_sires\tmissing_sires\twrong_dams\tmissing_dams\tswapped_samples\n"),
            std::string::npos);
  fs::remove(dir.path() / "s" / "replicates.tsv");
  ASSERT_EQ(run_pedsim({"collect", "s"}, {dir.path(), "6"}).status, 0);
  EXPECT_EQ(read_file(dir.path() / "s" / "replicates.tsv"), table);
}

TEST(Process, LargeExistingPedPreIsReplaced) {
  TempDir dir;
  test::write_file(dir.path() / "ped.pre", std::string(5 << 20, 'x'));
  const auto result = run_pedsim({"3", "20", "5"}, {dir.path(), "74565"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(fs::file_size(dir.path() / "ped.pre"), 65U * 49U);
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
