// A run split by chromosome: each part's genotypes and records are the
// whole run's on its chromosomes, under every model that draws along the
// markers. Each marker and chromosome draws its numbers by its place in the
// whole map (founders' alleles, crossovers, per-marker rates); events along
// an animal's markers are placed over the whole map and the part keeps its
// own.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pedsim/pedsim.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

struct SplitCase {
  std::string name;
  std::string only;
  std::string error_model = "none";
  double error_rate = 0;
  std::string missing_model = "none";
  double call_rate = 1;
  bool spreads = false;
  std::int32_t alleles = 2;
  std::string sex_chromosomes = "";
  double swap = 0;
};

MarkerOptions markers_of(const SplitCase& c) {
  MarkerOptions m;
  m.markers = 300;
  m.alleles = c.alleles;
  m.chromosomes = 5;
  m.frequencies = c.alleles == 2 ? "maf:0.1-0.5" : "dirichlet:1";
  m.sex_chromosomes = c.sex_chromosomes;
  return m;
}

RecordOptions records_of(const SplitCase& c) {
  RecordOptions r;
  r.error_model = c.error_model;
  if (c.error_rate > 0) r.error_rate = c.error_rate;
  r.missing_model = c.missing_model;
  if (c.call_rate < 1) r.call_rate = c.call_rate;
  if (c.spreads) {
    r.error_spread = 3;
    r.call_rate_spread = 3;
    r.animal_call_rate_spread = 5;
  }
  r.swap = c.swap;
  r.wrong_sire = 0.05;
  return r;
}

class Split : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Split, APartHoldsTheWholeRunsGenotypesAndRecordsOnItsChromosomes) {
  const SplitCase& c = GetParam();
  const Parameters numbers = Parameters::make(5, 300, 30);
  const Seed seed{11, "test"};
  const Simulation whole = simulate(numbers, seed, {}, {}, markers_of(c), records_of(c));
  MarkerOptions only = markers_of(c);
  only.only_chromosomes = c.only;
  const Simulation part = simulate(numbers, seed, {}, {}, only, records_of(c));
  const Panel& p = part.panel;
  const Panel& w = whole.panel;
  ASSERT_GT(p.markers(), 0);
  ASSERT_LT(p.markers(), w.markers());
  EXPECT_EQ(part.pedigree_changes, whole.pedigree_changes);
  std::int64_t altered = 0;
  for (std::int32_t m = 0; m < p.markers(); ++m) {
    const std::int32_t g = p.map().in_whole(m);
    ASSERT_EQ(p.map().names[m], w.map().names[g]);
    for (std::int32_t i = 1; i <= p.animals(); ++i) {
      for (int side = 0; side < 2; ++side) {
        ASSERT_EQ(p.true_allele(i, m, side), w.true_allele(i, g, side))
            << c.name << " animal " << i << " marker " << g + 1;
        ASSERT_EQ(p.recorded_allele(i, m, side), w.recorded_allele(i, g, side))
            << c.name << " animal " << i << " marker " << g + 1;
      }
      altered += p.altered_at(i, m) != nullptr ? 1 : 0;
    }
  }
  if (c.error_rate > 0) {
    EXPECT_GT(altered, 0) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Models, Split,
                         ::testing::Values(SplitCase{.name = "Genotypes", .only = "2"},
                                           SplitCase{.name = "RatesAndSpreads",
                                                     .only = "1,3-4",
                                                     .error_model = "random-allele",
                                                     .error_rate = 0.03,
                                                     .missing_model = "random",
                                                     .call_rate = 0.8,
                                                     .spreads = true},
                                           SplitCase{.name = "MostMissing",
                                                     .only = "5",
                                                     .error_model = "dropout",
                                                     .error_rate = 0.1,
                                                     .missing_model = "random",
                                                     .call_rate = 0.3},
                                           SplitCase{.name = "ClassicRules",
                                                     .only = "2-3",
                                                     .error_model = "design",
                                                     .missing_model = "design",
                                                     .alleles = 3},
                                           SplitCase{.name = "ClassicErrorRuleAlone",
                                                     .only = "1,5",
                                                     .error_model = "design",
                                                     .missing_model = "random",
                                                     .call_rate = 0.4},
                                           SplitCase{.name = "SexChromosomesAndSwaps",
                                                     .only = "4,X,MT",
                                                     .error_model = "random-allele",
                                                     .error_rate = 0.02,
                                                     .missing_model = "random",
                                                     .call_rate = 0.9,
                                                     .sex_chromosomes = "X:40,Y:10,MT:5",
                                                     .swap = 0.1}),
                         [](const ::testing::TestParamInfo<SplitCase>& info) {
                           return info.param.name;
                         });

TEST(Split, TheListMustNameChromosomesOfALinkedMap) {
  const Parameters numbers = Parameters::make(3, 20, 5);
  MarkerOptions m;
  m.markers = 20;
  m.alleles = 2;
  m.only_chromosomes = "1";
  EXPECT_THROW(simulate(numbers, Seed{1, "test"}, {}, {}, m, {}), InvalidParameters);
  m.chromosomes = 2;
  for (const std::string list : {"3", "1-3", "2-1", "X"}) {
    m.only_chromosomes = list;
    EXPECT_THROW(simulate(numbers, Seed{1, "test"}, {}, {}, m, {}), InvalidParameters) << list;
  }
  m.only_chromosomes = "2";
  RecordOptions exact;
  exact.error_model = "random-allele";
  exact.error_rate = 0.1;
  exact.exact_error_count = true;
  EXPECT_THROW(simulate(numbers, Seed{1, "test"}, {}, {}, m, exact), InvalidParameters);
}

// Four parts of a run, merged, give the single run's files byte for byte:
// every genotype format, recorded and true, the indexes, errors.tsv and
// pedigree_truth.tsv; a
// file merging does not join yet is named, not written.
TEST(Split, FourPartsMergedAreTheWholeRunsFiles) {
  const test::TempDir dir;
  const std::vector<std::string> run = test::words(
      "--seed 4 --markers 400 --alleles 2 --chromosomes 4 --error-rate 0.02 --call-rate 0.9 "
      "--sex-chromosomes X:30,Y:10,MT:5 --wrong-sire 0.1 --swap 0.05 --true-genotypes "
      "--format pre,plink,plink-text,vcf,bcf --quiet 5 300 30");
  const auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), run.begin(), run.end());
    return more;
  };
  ASSERT_EQ(test::run_pedsim(with({"--outdir", "whole"}), {.cwd = dir.path(), .seed = std::nullopt})
                .status,
            0);
  std::vector<std::string> merge = {"merge", "--outdir", "merged"};
  for (const std::string part : {"1", "2-3", "4,X", "Y,MT"}) {
    const std::string folder = "part" + part;
    ASSERT_EQ(test::run_pedsim(with({"--only-chromosomes", part, "--outdir", folder}),
                               {.cwd = dir.path(), .seed = std::nullopt})
                  .status,
              0);
    merge.push_back(folder);
  }
  const test::ProcessResult merged =
      test::run_pedsim(merge, {.cwd = dir.path(), .seed = std::nullopt});
  ASSERT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(merged.err,
            "pedsim merge: not joined, each part's holding its own chromosomes only: run.tsv\n");
  std::vector<std::string> compared;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path() / "whole")) {
    const std::string name = entry.path().filename().string();
    if (name == "run.tsv") continue;
    EXPECT_EQ(test::read_file(dir.path() / "merged" / name), test::read_file(entry.path())) << name;
    compared.push_back(name);
  }
  std::sort(compared.begin(), compared.end());
  EXPECT_EQ(compared.size(), 23U) << ::testing::PrintToString(compared);
  const test::ProcessResult whole = test::run_pedsim({"merge", "--outdir", "m2", "part1", "whole"},
                                                     {.cwd = dir.path(), .seed = std::nullopt});
  EXPECT_EQ(whole.status, 2);
  EXPECT_NE(whole.err.find("whole holds a whole run, not a part of one"), std::string::npos)
      << whole.err;
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "m2"));
  const test::ProcessResult onto_a_part =
      test::run_pedsim({"merge", "--outdir", "part1", "part1", "part2-3"},
                       {.cwd = dir.path(), .seed = std::nullopt});
  EXPECT_EQ(onto_a_part.status, 2) << onto_a_part.err;
  // A run writing the folder holds its ped.pre: the merge waits for none.
  const int held = ::open((dir.path() / "merged" / "ped.pre").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  const test::ProcessResult busy =
      test::run_pedsim(merge, {.cwd = dir.path(), .seed = std::nullopt});
  ::close(held);
  EXPECT_EQ(busy.status, 2);
  EXPECT_NE(busy.err.find("another pedsim run is writing"), std::string::npos) << busy.err;
}

}  // namespace
}  // namespace pedsim
