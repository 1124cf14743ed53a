// What a long run tells as it goes, and what it says it will need.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <thread>

#include "cli/progress_line.hpp"
#include "pedsim/pedsim.hpp"
#include "run/run_needs.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

using test::TempDir;

struct StageRecorder final : Progress {
  void at(std::string_view stage, double done) override {
    if (order.empty() || order.back() != stage) order.emplace_back(stage);
    auto& last = shares[std::string(stage)];
    EXPECT_GE(done, last) << stage;
    EXPECT_LE(done, 1.0) << stage;
    last = done;
  }
  std::vector<std::string> order;
  std::map<std::string, double> shares;
};

TEST(Progress, AStageIsToldOnceInOrderAndItsShareOnlyGrows) {
  StageRecorder progress;
  MarkerOptions markers;
  markers.markers = 50;
  RecordOptions records;
  records.error_model = "none";
  records.missing_model = "none";
  StringSink pedigree;
  simulate(Parameters::make(4, 40, 10), Seed{3, "test"},
           {.pedigree = &pedigree, .progress = &progress}, {}, markers, records);
  EXPECT_EQ(progress.order, (std::vector<std::string>{"breeding the pedigree",
                                                      "dropping the markers", "writing ped.pre"}));
  EXPECT_EQ(progress.shares["breeding the pedigree"], 1.0);
  EXPECT_EQ(progress.shares["dropping the markers"], 1.0);
  // ped.pre's share is an estimate of its bytes: near, never past, the end.
  EXPECT_GT(progress.shares["writing ped.pre"], 0.9);
  EXPECT_LT(progress.shares["writing ped.pre"], 1.0);
}

// Off a terminal nothing is shown; on one, the line is replaced in place
// and erased at the end, leaving nothing behind it.
TEST(Progress, TheLineShowsOnATerminalOnlyAndIsErased) {
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  {
    ProgressLine line(pipe_ends[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    line.at("writing ped.bed", 0.5);
  }
  ::close(pipe_ends[1]);
  char byte;
  EXPECT_EQ(::read(pipe_ends[0], &byte, 1), 0);
  ::close(pipe_ends[0]);

  int terminal = -1;
  int other_end = -1;
  ASSERT_EQ(::openpty(&other_end, &terminal, nullptr, nullptr, nullptr), 0);
  {
    ProgressLine line(terminal);
    line.at("writing ped.bed", 0.1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    line.at("writing ped.bed", 0.5);
  }
  std::string shown;
  pollfd waiting{.fd = other_end, .events = POLLIN, .revents = 0};
  char text[256];
  while (::poll(&waiting, 1, 100) == 1) {
    const ssize_t got = ::read(other_end, text, sizeof text);
    if (got <= 0) break;
    shown.append(text, static_cast<std::size_t>(got));
  }
  ::close(terminal);
  ::close(other_end);
  EXPECT_TRUE(shown.starts_with("\rpedsim: writing ped.bed 50%, about ")) << shown;
  EXPECT_TRUE(shown.ends_with(" s left\x1b[K\r\x1b[K")) << shown;
}

// What a run says it will need on disk is near what its files take.
TEST(RunNeeds, TheDiskEstimateIsNearTheFilesWritten) {
  TempDir dir;
  const auto result = test::run_pedsim(
      {"--seed", "4", "--markers", "400", "--alleles", "2", "--format", "pre,plink,plink-text,vcf",
       "--true-genotypes", "--outdir", "o", "3", "400", "40"},
      {dir.path(), std::nullopt});
  ASSERT_EQ(result.status, 0) << result.err;
  double written = 0;
  for (const auto& file : std::filesystem::directory_iterator(dir.path() / "o")) {
    const std::string name = file.path().filename().string();
    if (name.starts_with("ped.") || name.starts_with("true.")) written += file.file_size();
  }
  MarkerOptions markers;
  markers.markers = 400;
  markers.alleles = 2;
  RecordOptions records;
  records.error_model = "none";
  records.missing_model = "none";
  const RunNeeds needs =
      needs_of(1600, markers, records, Formats::parse("pre,plink,plink-text,vcf"), true);
  EXPECT_NEAR(needs.disk_bytes, written, 0.15 * written);
  EXPECT_EQ(needs_line(needs, 1e12, 1e12), "");
  EXPECT_TRUE(needs_line(needs, 1e12, 1e6).starts_with("pedsim: this run will need about "));
}

}  // namespace
}  // namespace pedsim
