// Every file a run, a study or collect writes: names that would lose a file
// are refused before anything is written, pedsim's own files never follow a
// planted link, studies are recorded and resumed, and no table claims a run
// that did not finish.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>

#include "support.hpp"

namespace pedsim {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::run_pedsim;
using test::TempDir;

// What the command leaves of a file, against the folder before it ran.
enum class Left {
  kUnchanged,  // as before (absent stays absent)
  kWritten,    // new or different contents, a file of its own (no link)
  kAbsent,
  kWrittenThroughLink,  // still a link, whose target holds new contents
};

struct TrustCase {
  std::string name;
  // Commands run first to make the folder's contents (PEDSIM_SEED=1).
  std::vector<std::vector<std::string>> setup = {};
  // Changes the folder after the setup.
  std::function<void(const fs::path&)> prepare = {};
  std::vector<std::string> args;
  int status;
  // Texts standard error must hold.
  std::vector<std::string> err_has = {};
  std::map<std::string, Left> left = {};
  // Files whose contents must hold a text afterwards.
  std::map<std::string, std::string> holds = {};
  // Standard output appends to this file of the folder.
  std::string stdout_file = {};
  // The command runs as a user without root's rights (nobody, when the tests
  // run as root), who can start no thread.
  bool as_user = false;
};

class TrustedFiles : public ::testing::TestWithParam<TrustCase> {};

std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), dir).string()] = read_file(entry.path());
    }
  }
  return files;
}

TEST_P(TrustedFiles, StatusMessageAndWhatIsLeft) {
  const auto& c = GetParam();
  TempDir dir;
  for (const auto& setup : c.setup) ASSERT_EQ(run_pedsim(setup, {dir.path(), "1"}).status, 0);
  if (c.prepare) c.prepare(dir.path());
  const auto before = snapshot(dir.path());
  test::ProcessOptions options{dir.path(), "1"};
  options.stdout_file = c.stdout_file;
  options.no_threads = c.as_user;
  const auto result = run_pedsim(c.args, options);
  EXPECT_EQ(result.status, c.status) << result.err;
  for (const auto& text : c.err_has)
    EXPECT_NE(result.err.find(text), std::string::npos) << result.err;
  for (const auto& [name, left] : c.left) {
    const fs::path path = dir.path() / name;
    const auto earlier = before.find(name);
    const bool exists = fs::exists(path);
    switch (left) {
      case Left::kUnchanged:
        EXPECT_EQ(exists, earlier != before.end()) << name;
        if (exists && earlier != before.end()) {
          EXPECT_EQ(read_file(path), earlier->second) << name;
        }
        break;
      case Left::kAbsent:
        EXPECT_FALSE(exists) << name;
        break;
      case Left::kWritten:
      case Left::kWrittenThroughLink:
        EXPECT_EQ(fs::is_symlink(path), left == Left::kWrittenThroughLink) << name;
        ASSERT_TRUE(exists) << name;
        if (earlier != before.end()) {
          EXPECT_NE(read_file(path), earlier->second) << name;
        }
        break;
    }
  }
  for (const auto& [name, text] : c.holds) {
    EXPECT_NE(read_file(dir.path() / name).find(text), std::string::npos) << name;
  }
  // No unfinished file is left behind.
  for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".pedsim-"), std::string::npos) << entry.path();
  }
}

const std::vector<std::string> kStudy{"--replicates", "3", "--outdir", "s", "--truth",
                                      "t.txt",        "2", "30",       "5"};

std::vector<std::string> with(std::vector<std::string> args, std::vector<std::string> more) {
  args.insert(args.begin(), more.begin(), more.end());
  return args;
}

// A panel run with errors and wrong sires into folder d.
const std::vector<std::string> kPanelRunInD{"--outdir",
                                            "d",
                                            "--markers",
                                            "3",
                                            "--alleles",
                                            "2",
                                            "--error-model",
                                            "random-allele",
                                            "--error-rate",
                                            "0.1",
                                            "--wrong-sire",
                                            "0.3",
                                            "2",
                                            "30",
                                            "5"};

void plant_unfinished(const fs::path& dir) {
  test::write_file(dir / "s" / "r00001" / ".t.txt.pedsim-AbC123", "half\n");
  test::write_file(dir / "s" / ".replicates.tsv.pedsim-xYz789", "half\n");
  fs::remove(dir / "s" / "r00001" / "run.tsv");
}

INSTANTIATE_TEST_SUITE_P(
    Table, TrustedFiles,
    ::testing::Values(
        TrustCase{.name = "EmptyOutdirIsRefused",
                  .prepare = [](const fs::path& d) { test::write_file(d / "ped.pre", "x\n"); },
                  .args = {"--outdir", "", "2", "10", "3"},
                  .status = 2,
                  .err_has = {"--outdir needs a value that is not empty"},
                  .left = {{"ped.pre", Left::kUnchanged}}},
        TrustCase{.name = "EarlierRunsFilesThatThisRunDoesNotWriteAreRemoved",
                  .setup = {with(kPanelRunInD,
                                 {"--swap", "0.2", "--true-genotypes", "--format", "plink,vcf"})},
                  .args = {"--outdir", "d", "2", "30", "5"},
                  .status = 0,
                  .err_has = {"pedsim: removed 12 files of an earlier run that this run does "
                              "not write:"},
                  .left = {{"d/ped.pre", Left::kWritten},
                           {"d/run.tsv", Left::kWritten},
                           {"d/ped.bed", Left::kAbsent},
                           {"d/true.vcf.gz.csi", Left::kAbsent},
                           {"d/errors.tsv", Left::kAbsent},
                           {"d/pedigree_truth.tsv", Left::kAbsent}}},
        // A file of an earlier run's names changed after that run (a PLINK
        // conversion written over ped.bed) is the user's: kept and named.
        TrustCase{.name = "FileChangedAfterTheEarlierRunIsKept",
                  .setup = {with(kPanelRunInD, {"--format", "pre,plink"})},
                  .prepare = [](const fs::path& d) { test::write_file(d / "d/ped.bed", "mine"); },
                  .args = {"--outdir", "d", "2", "30", "5"},
                  .status = 0,
                  .err_has = {"pedsim: removed 4 files of an earlier run",
                              "pedsim: warning: this run does not write ", "/d/ped.bed, which is"},
                  .left = {{"d/ped.bed", Left::kUnchanged},
                           {"d/ped.bim", Left::kAbsent},
                           {"d/errors.tsv", Left::kAbsent}}},
        TrustCase{.name = "FilesBesideARunWithoutItsTableAreKeptAndNamed",
                  .setup = {{"--markers", "3", "--alleles", "2", "--error-model", "random-allele",
                             "--error-rate", "0.1", "--format", "pre,plink", "2", "30", "5"}},
                  .args = {"--seed", "2", "2", "30", "5"},
                  .status = 0,
                  .err_has = {"pedsim: warning: this run does not write ", "/ped.bed ",
                              "/errors.tsv, which are from before it and do not describe it"},
                  .left = {{"ped.pre", Left::kWritten},
                           {"ped.bed", Left::kUnchanged},
                           {"errors.tsv", Left::kUnchanged}}},
        TrustCase{.name = "RefusedCommandMakesNoFolder",
                  .args = {"--outdir", "new/deep/dir", "x", "20", "5"},
                  .status = 59,
                  .left = {{"new", Left::kAbsent}}},
        // A panel that cannot fit is refused before anything is allocated
        // or emptied, saying how much it needs.
        TrustCase{.name = "PanelLargerThanTheMachine",
                  .setup = {{"--outdir", "d", "3", "20", "5"}},
                  .args = {"--outdir", "d", "--markers", "2000000000", "3", "20", "5"},
                  .status = 41,
                  .err_has = {"forrtl: severe (41): insufficient virtual memory\npedsim: this "
                              "run's marker panel (65 animals x 2000000000 markers) needs about "
                              "520.5 GB of memory, more than the "},
                  .left = {{"d/ped.pre", Left::kUnchanged}, {"d/run.tsv", Left::kUnchanged}}},
        TrustCase{.name = "GenomeTooLongForItsCost",
                  .args = {"--markers", "100", "--chromosomes", "11", "--chromosome-length",
                           "100000", "3", "20", "5"},
                  .status = 2,
                  .err_has = {"the genome's length, is at most 1000000 cM", "got 1100000 cM"}},
        TrustCase{.name = "EmptyPedigreeLeavesAnEarlierRunAlone",
                  .setup = {with(kPanelRunInD, {"--format", "pre,plink"})},
                  .prepare = [](const fs::path& d) { test::write_file(d / "herd.txt", "\n"); },
                  .args = {"--outdir", "d", "--pedigree", "herd.txt", "--format", "plink",
                           "--markers", "3", "--alleles", "2", "--error-model", "random-allele",
                           "--error-rate", "0.1"},
                  .status = 2,
                  .err_has = {"pedigree file herd.txt lists no animal"},
                  .left = {{"d/ped.pre", Left::kUnchanged},
                           {"d/ped.errors", Left::kUnchanged},
                           {"d/run.tsv", Left::kUnchanged},
                           {"d/ped.bed", Left::kUnchanged},
                           {"d/errors.tsv", Left::kUnchanged},
                           {"d/pedigree_truth.tsv", Left::kUnchanged}}},
        TrustCase{
            .name = "StudyReportNamingPedPre",
            .args = {"--replicates", "2", "--outdir", "s", "--truth", "ped.pre", "2", "10", "3"},
            .status = 2,
            .err_has = {"--truth ped.pre names the same file as ped.pre"},
            .left = {{"s", Left::kAbsent}}},
        TrustCase{.name = "StudyReportNamingConsole",
                  .args = with(kStudy, {"--summary", "console.txt"}),
                  .status = 2,
                  .err_has = {"--summary console.txt names the same file as console.txt"}},
        TrustCase{.name = "StudyReportsNamingOneFile",
                  .args = with(kStudy, {"--summary", "t.txt"}),
                  .status = 2,
                  .err_has = {"--summary t.txt names the same file as --truth t.txt"}},
        TrustCase{.name = "ReportNamingRunTsv",
                  .setup = {{"--outdir", "d", "2", "10", "3"}},
                  .args = {"--outdir", "d", "--truth", "d/run.tsv", "2", "10", "3"},
                  .status = 2,
                  .err_has = {"--truth d/run.tsv names the same file as run.tsv"},
                  .left = {{"d/run.tsv", Left::kUnchanged}, {"d/ped.pre", Left::kUnchanged}}},
        TrustCase{.name = "ConsoleSentToPedPre",
                  .setup = {{"2", "10", "3"}},
                  .args = {"2", "10", "3"},
                  .status = 2,
                  .err_has = {"standard output is ped.pre"},
                  .left = {{"ped.pre", Left::kUnchanged}},
                  .stdout_file = "ped.pre"},
        TrustCase{.name = "StudyConsoleSentToAReplicatesFile",
                  .setup = {kStudy},
                  .args = kStudy,
                  .status = 2,
                  .err_has = {"standard output is console.txt"},
                  .left = {{"s/r00002/console.txt", Left::kUnchanged}},
                  .stdout_file = "s/r00002/console.txt"},
        TrustCase{.name = "AnotherStudyInTheFolderIsRefused",
                  .setup = {kStudy},
                  .args = with(kStudy, {"--seed", "2"}),
                  .status = 2,
                  .err_has = {"holds another study (seed 1 there, 2 here)"},
                  .left = {{"s/replicates.tsv", Left::kUnchanged},
                           {"s/r00000/ped.pre", Left::kUnchanged}}},
        TrustCase{.name = "AnotherMarkerModelIsAnotherStudy",
                  .setup = {kStudy},
                  .args = with(kStudy, {"--markers", "5", "--true-genotypes"}),
                  .status = 2,
                  .err_has = {"holds another study (model design there, design markers=5 "
                              "alleles=3 frequencies=equal unlinked error_model=none "
                              "missing_model=none here, true_genotypes none there, yes here)"},
                  .left = {{"s/replicates.tsv", Left::kUnchanged}}},
        TrustCase{.name = "StudyReportNamingTruePre",
                  .args = with(kStudy, {"--true-genotypes", "--summary", "true.pre"}),
                  .status = 2,
                  .err_has = {"--summary true.pre names the same file as true.pre"}},
        TrustCase{.name = "ReplicatesNoStudyRecordsAreRefused",
                  .setup = {{"--outdir", "s/r00000", "2", "30", "5"}},
                  .args = kStudy,
                  .status = 2,
                  .err_has = {"holds replicates that no study.tsv describes"},
                  .left = {{"s/r00000/ped.pre", Left::kUnchanged}}},
        TrustCase{.name = "TheSameStudyResumesWhatIsMissing",
                  .setup = {kStudy},
                  .prepare = plant_unfinished,
                  .args = kStudy,
                  .status = 0,
                  .err_has = {"resuming the study", "2 of 3 replicates finished",
                              "removed 1 unfinished file", "removed 1 unfinished file"},
                  .left = {{"s/r00000/ped.pre", Left::kUnchanged},
                           {"s/r00000/run.tsv", Left::kUnchanged},
                           {"s/r00001/run.tsv", Left::kWritten},
                           {"s/replicates.tsv", Left::kUnchanged}}},
        TrustCase{.name = "PlantedLinksAreReplacedNotFollowed",
                  .setup = {{"--outdir", "d", "2", "10", "3"}},
                  .prepare =
                      [](const fs::path& d) {
                        test::write_file(d / "victim", "mine\n");
                        fs::remove(d / "d" / "run.tsv");
                        fs::create_symlink("../victim", d / "d" / "run.tsv");
                      },
                  .args = {"--outdir", "d", "2", "10", "3"},
                  .status = 0,
                  .left = {{"victim", Left::kUnchanged}, {"d/run.tsv", Left::kWritten}}},
        TrustCase{.name = "ALinkedReportIsFollowedLikeALinkedOutput",
                  .prepare =
                      [](const fs::path& d) {
                        test::write_file(d / "real.txt", "earlier\n");
                        fs::create_symlink("real.txt", d / "t.txt");
                      },
                  .args = {"--truth", "t.txt", "2", "10", "3"},
                  .status = 0,
                  .left = {{"t.txt", Left::kWrittenThroughLink}, {"real.txt", Left::kWritten}}},
        TrustCase{.name = "AReplicateFolderThatIsALinkIsRefused",
                  .setup = {kStudy},
                  .prepare =
                      [](const fs::path& d) {
                        fs::rename(d / "s" / "r00001", d / "elsewhere");
                        fs::create_symlink("../elsewhere", d / "s" / "r00001");
                        fs::remove(d / "elsewhere" / "run.tsv");
                      },
                  .args = kStudy,
                  .status = 2,
                  .err_has = {"replicate 1 failed with status 2", "is a symbolic link"},
                  .left = {{"elsewhere/ped.pre", Left::kUnchanged}},
                  .holds = {{"s/replicates.tsv", "\n1\t1\tNA\tNA\tNA\tNA\tNA\t2\tdesign\n"}}},
        TrustCase{.name = "AFailedWriteRewritesRunTsvWithItsStatus",
                  .setup = {{"--outdir", "d", "--truth", "t.txt", "2", "10", "3"}},
                  .prepare =
                      [](const fs::path& d) {
                        fs::remove(d / "d" / "ped.pre");
                        fs::create_symlink("/dev/full", d / "d" / "ped.pre");
                      },
                  .args = {"--outdir", "d", "--truth", "t.txt", "2", "10", "3"},
                  .status = 38,
                  .left = {{"d/run.tsv", Left::kWritten}, {"t.txt", Left::kAbsent}},
                  .holds = {{"d/run.tsv", "\t1\tNA\tNA\tNA\tNA\tNA\t38\tdesign\n"}}},
        TrustCase{.name = "CollectNamesAMissingReplicate",
                  .setup = {kStudy},
                  .prepare = [](const fs::path& d) { fs::remove_all(d / "s" / "r00002"); },
                  .args = {"collect", "s"},
                  .status = 1,
                  .err_has = {"missing (no run.tsv): 2"},
                  .holds = {{"s/replicates.tsv", "\n2\t1\tNA\tNA\tNA\tNA\tNA\tNA\tdesign\n"}}},
        TrustCase{.name = "CollectKeepsTheStatusOfAReplicateWithoutRunTsv",
                  .setup = {kStudy},
                  .prepare =
                      [](const fs::path& d) {
                        fs::remove(d / "s" / "r00001" / "run.tsv");
                        const std::string table = read_file(d / "s" / "replicates.tsv");
                        const auto at = table.find("\n1\t");
                        test::write_file(d / "s" / "replicates.tsv",
                                         table.substr(0, at) +
                                             "\n1\t1\tNA\tNA\tNA\tNA\tNA\t43\tdesign" +
                                             table.substr(table.find('\n', at + 1)));
                      },
                  .args = {"collect", "s"},
                  .status = 1,
                  .err_has = {"failed: 1"},
                  .holds = {{"s/replicates.tsv", "\n1\t1\tNA\tNA\tNA\tNA\tNA\t43\tdesign\n"}}},
        TrustCase{.name = "CollectWithoutReplicatesFails",
                  .args = {"collect", "."},
                  .status = 1,
                  .err_has = {"holds no replicate folders"},
                  .left = {{"replicates.tsv", Left::kAbsent}}},
        TrustCase{.name = "CollectWithTheRangeOfAStudyMadeByHand",
                  .setup = {{"--replicate", "1", "--outdir", "p/r00001", "2", "10", "3"}},
                  .args = {"collect", "--replicates", "3", "p"},
                  .status = 1,
                  .err_has = {"missing (no run.tsv): 0, 2"}},
        TrustCase{.name = "CollectRefusesOptionsItDoesNotTake",
                  .args = {"collect", "--seed", "3", "."},
                  .status = 2,
                  .err_has = {"collect takes no option --seed"}},
        TrustCase{.name = "LastReplicateIsAccepted",
                  .args = {"--replicate", "99999", "--outdir", "d", "2", "10", "3"},
                  .status = 0,
                  .holds = {{"d/run.tsv", "\n99999\t1\t"}}},
        TrustCase{.name = "ReplicateBeyondTheLastIsRefused",
                  .args = {"--replicate", "100000", "2", "10", "3"},
                  .status = 2,
                  .err_has = {"--replicate must be an integer from 0 to 99999"},
                  .left = {{"ped.pre", Left::kAbsent}}},
        TrustCase{.name = "AnOutdirUnderAReadOnlyFolderIsDeniedPermission",
                  .prepare =
                      [](const fs::path& d) {
                        fs::permissions(d, fs::perms::all);
                        fs::create_directory(d / "ro");
                        fs::permissions(d / "ro", fs::perms::owner_all | fs::perms::group_read |
                                                      fs::perms::group_exec |
                                                      fs::perms::others_read |
                                                      fs::perms::others_exec);
                      },
                  .args = {"--outdir", "ro/sub", "2", "10", "3"},
                  .status = 9,
                  .err_has = {"Permission denied\n", "permission to access file denied, unit 1",
                              "/ro/sub/ped.pre\n"},
                  .as_user = true},
        TrustCase{.name = "AReportInAnUnsearchableFolderIsDeniedPermission",
                  .prepare =
                      [](const fs::path& d) {
                        fs::permissions(d, fs::perms::all);
                        fs::create_directory(d / "hidden");
                        fs::permissions(d / "hidden", fs::perms::owner_all);
                      },
                  .args = {"--truth", "hidden/t.txt", "2", "10", "3"},
                  .status = 9,
                  .err_has = {"permission to access file denied, unit 3"},
                  .as_user = true},
        TrustCase{.name = "AForgottenOptionValueIsNamed",
                  .args = {"--replicate", "3", "20", "5"},
                  .status = 24,
                  .err_has = {"MALE, is missing; expected an integer (--replicate took '3' as "
                              "its value)"}}),
    [](const auto& info) { return info.param.name; });

std::vector<std::string> files_left(const fs::path& dir) {
  std::vector<std::string> left;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    left.push_back(fs::relative(entry.path(), dir).string());
  }
  std::sort(left.begin(), left.end());
  return left;
}

// An interrupted run or study leaves no report, run.tsv or table that claims
// results it lost, and no unfinished file; an interrupt before the outputs
// were emptied keeps the earlier reports; an inherited "ignore SIGINT" holds.
TEST(Interrupts, LeaveNoClaimOfResultsThatAreGone) {
  for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
    TempDir dir;
    ASSERT_EQ(
        run_pedsim({"--outdir", "d", "--truth", "t.txt", "2", "10", "3"}, {dir.path(), "1"}).status,
        0);
    test::ProcessOptions options{dir.path(), "3"};
    options.signal = signal;
    options.signal_after_ms = 300;
    const auto result =
        run_pedsim({"--outdir", "d", "--truth", "t.txt", "100", "200000", "20000"}, options);
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.err, "pedsim: interrupted; ped.pre and ped.errors are incomplete\n");
    EXPECT_EQ(files_left(dir.path()), (std::vector<std::string>{"d", "d/ped.errors", "d/ped.pre"}));
  }
  TempDir dir;
  const std::vector<std::string> study{"--replicates", "12",     "--outdir", "s", "--truth",
                                       "t.txt",        "--jobs", "2",        "4", "200000",
                                       "20000"};
  ASSERT_EQ(run_pedsim({"--replicates", "12", "--outdir", "s", "--truth", "t.txt", "2", "10", "3"},
                       {dir.path(), "1"})
                .status,
            0);
  fs::remove(dir.path() / "s" / "study.tsv");
  fs::rename(dir.path() / "s", dir.path() / "earlier");
  fs::create_directory(dir.path() / "s");
  test::ProcessOptions options{dir.path(), "3"};
  options.signal = SIGTERM;
  options.signal_after_ms = 400;
  const auto result = run_pedsim(study, options);
  EXPECT_EQ(result.status, 143);
  EXPECT_EQ(result.err, "pedsim: interrupted; the replicates being written are incomplete\n");
  for (const auto& name : files_left(dir.path() / "s")) {
    EXPECT_EQ(name.find(".pedsim-"), std::string::npos) << name;
    if (name.ends_with("run.tsv") || name.ends_with("t.txt")) {
      const fs::path folder = (dir.path() / "s" / name).parent_path();
      EXPECT_GT(fs::file_size(folder / "ped.pre"), 0U) << name;
    }
  }
  EXPECT_FALSE(fs::exists(dir.path() / "s" / "replicates.tsv"));
}

TEST(Interrupts, BeforeTheOutputsAreEmptiedKeepEarlierReports) {
  TempDir dir;
  test::write_file(dir.path() / "t.txt", "earlier truth\n");
  // Opening a FIFO waits for a reader: the run stops there, before it has
  // read its arguments.
  ASSERT_EQ(::mkfifo((dir.path() / "ped.errors").c_str(), 0644), 0);
  test::ProcessOptions options{dir.path(), "1"};
  options.signal = SIGTERM;
  options.signal_after_ms = 200;
  const auto result = run_pedsim({"--truth", "t.txt", "2", "10", "3"}, options);
  EXPECT_EQ(result.status, 143);
  EXPECT_EQ(read_file(dir.path() / "t.txt"), "earlier truth\n");
}

TEST(Interrupts, AnInheritedIgnoredSigintIsKept) {
  TempDir dir;
  test::ProcessOptions options{dir.path(), "1"};
  options.ignore_sigint = true;
  options.signal = SIGINT;
  options.signal_after_ms = 100;
  const auto result = run_pedsim({"40", "200000", "20000"}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace pedsim
