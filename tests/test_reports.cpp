#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "analysis/counts.hpp"
#include "reports/reports.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

// One whole seeded run in memory, with its reports.
struct Reported {
  std::string pedigree, errors, truth, summary;
};

Reported run_with_reports(std::int32_t generations, std::int32_t founders, std::int32_t males,
                          std::int32_t seed) {
  const Simulation run = simulate(Parameters::make(generations, founders, males), {seed, "x"});
  StringSink pedigree, errors, truth, summary;
  write_outputs(run, {nullptr, &pedigree, &errors});
  write_truth(run, truth);
  write_summary(run, summary);
  return {pedigree.text, errors.text, truth.text, summary.text};
}

using Rows = std::vector<std::vector<std::int64_t>>;

Rows read_rows(const std::string& text, bool header) {
  auto lines = test::split_lines(text);
  Rows rows{{}};
  for (std::size_t k = header ? 1 : 0; k < lines.size(); ++k)
    rows.push_back(test::fields_of(lines[k]));
  return rows;
}

bool carries(std::int64_t a, std::int64_t b, std::int64_t allele) {
  return a == allele || b == allele;
}

std::map<std::string, std::string> summary_values(const std::string& text) {
  std::map<std::string, std::string> values;
  for (const auto& line : test::split_lines(text)) {
    const auto colon = line.find(": ");
    if (colon != std::string::npos) values[line.substr(0, colon)] = line.substr(colon + 2);
    if (line.rfind("generation ", 0) == 0) {
      const auto w = test::words(line);
      values["generation " + w[1]] = line.substr(line.find(' ', 11) + 1);
    }
  }
  return values;
}

// Whether a recorded genotype (a, b) can come from the recorded genotypes of
// the parents that have one.
bool recorded_consistent(const std::vector<std::int64_t>& child,
                         const std::vector<std::int64_t>* sire,
                         const std::vector<std::int64_t>* dam) {
  const auto from = [](const std::vector<std::int64_t>* parent, std::int64_t allele) {
    return parent == nullptr || carries((*parent)[8], (*parent)[9], allele);
  };
  if (sire != nullptr && dam != nullptr) {
    return (from(sire, child[8]) && from(dam, child[9])) ||
           (from(sire, child[9]) && from(dam, child[8]));
  }
  const auto* parent = sire != nullptr ? sire : dam;
  return parent == nullptr || from(parent, child[8]) || from(parent, child[9]);
}

// The truth file against the outputs and Mendel, and the summary's counts
// against the truth file: a run whose last animal is inconsistent with its
// recorded parents, then random small runs.
TEST(Reports, TruthAgreesWithTheOutputsAndTheSummaryWithTheTruth) {
  std::mt19937 rng(31);
  for (int trial = -1; trial < 200; ++trial) {
    const bool fixed = trial < 0;
    const std::int32_t male = fixed ? 5 : 1 + static_cast<std::int32_t>(rng() % 6);
    const std::int32_t n = fixed ? 30 : 2 * male + static_cast<std::int32_t>(rng() % 200);
    const std::int32_t ngen = fixed ? 2 : static_cast<std::int32_t>(rng() % 11);
    const auto seed = fixed ? 49 : static_cast<std::int32_t>(rng());
    const Reported run = run_with_reports(ngen, n, male, seed);
    const Rows truth = read_rows(run.truth, true);
    const Rows pre = read_rows(run.pedigree, false);
    // Every animal, and none of the rows of zeros that were never bred.
    ASSERT_LE(truth.size(), pre.size());
    for (std::size_t i = truth.size(); i < pre.size(); ++i) {
      ASSERT_EQ(pre[i], std::vector<std::int64_t>(6, 0)) << i;
    }
    std::set<std::int64_t> listed;
    for (const auto& line : test::split_lines(run.errors)) {
      listed.insert(test::fields_of(line)[0]);
    }
    std::map<std::int64_t, std::array<std::int64_t, 5>> per_generation;
    std::int64_t candidates = 0;
    std::array<std::int64_t, 2> inconsistent{};  // not involving, involving an altered animal
    bool last_inconsistent = false;
    for (std::size_t i = 1; i < truth.size(); ++i) {
      const auto& t = truth[i];
      ASSERT_EQ(t.size(), 11U);
      ASSERT_EQ(t[0], static_cast<std::int64_t>(i));
      ASSERT_EQ((std::vector<std::int64_t>{t[0], t[1], t[2], t[3], t[8], t[9]}), pre[i]) << i;
      ASSERT_EQ(t[10] == 1, listed.count(t[0]) == 1) << i;
      ASSERT_EQ(t[7] == 1, t[8] == 0) << i;
      auto& g = per_generation[t[4]];
      ++g[0];
      ++g[t[3] == 1 ? 1 : 2];
      ++g[t[7] == 1 ? 4 : 3];
      if (t[1] == 0) continue;
      const auto* recorded_sire = &truth[static_cast<std::size_t>(t[1])];
      const auto* recorded_dam = &truth[static_cast<std::size_t>(t[2])];
      if ((*recorded_sire)[8] == 0) recorded_sire = nullptr;
      if ((*recorded_dam)[8] == 0) recorded_dam = nullptr;
      last_inconsistent = t[8] != 0 && !recorded_consistent(t, recorded_sire, recorded_dam);
      if (last_inconsistent) {
        const bool altered = t[10] == 1 ||
                             (recorded_sire != nullptr && (*recorded_sire)[10] == 1) ||
                             (recorded_dam != nullptr && (*recorded_dam)[10] == 1);
        ++inconsistent[altered ? 1 : 0];
      }
      const auto& sire = truth[static_cast<std::size_t>(t[1])];
      const auto& dam = truth[static_cast<std::size_t>(t[2])];
      const bool mendelian = (carries(sire[5], sire[6], t[5]) && carries(dam[5], dam[6], t[6])) ||
                             (carries(sire[5], sire[6], t[6]) && carries(dam[5], dam[6], t[5]));
      ASSERT_TRUE(mendelian) << "row " << i << " of trial " << trial;
      if (t[8] != 0 && sire[8] == 0 && dam[8] == 0) ++candidates;
    }
    const auto summary = summary_values(run.summary);
    if (fixed) {
      EXPECT_TRUE(last_inconsistent);
    }
    EXPECT_EQ(inconsistent[0], 0);
    EXPECT_EQ(summary.at("mendelian_inconsistencies_not_involving_altered"),
              std::to_string(inconsistent[0]));
    EXPECT_EQ(summary.at("mendelian_inconsistencies_involving_altered"),
              std::to_string(inconsistent[1]));
    EXPECT_EQ(summary.at("ngen"), std::to_string(ngen));
    EXPECT_EQ(summary.at("error_candidates"), std::to_string(candidates));
    EXPECT_EQ(summary.at("altered_animals"), std::to_string(listed.size()));
    // Every key holds one value.
    for (const auto& [key, value] : summary) {
      if (key.rfind("generation ", 0) != 0) {
        EXPECT_EQ(test::words(value).size(), 1U) << key;
      }
    }
    for (const auto& [generation, c] : per_generation) {
      const auto w = test::words(summary.at("generation " + std::to_string(generation)));
      ASSERT_EQ(w.size(), 7U);
      for (std::size_t k = 0; k < 5; ++k) EXPECT_EQ(std::stoll(w[k]), c[k]);
    }
  }
}

TEST(Reports, MendelianConsistencyOfRecordedGenotypes) {
  const Genotype none{0, 0};
  EXPECT_TRUE(is_mendelian_consistent({1, 2}, {1, 1}, {2, 3}));
  EXPECT_TRUE(is_mendelian_consistent({2, 1}, {1, 1}, {2, 3}));
  EXPECT_FALSE(is_mendelian_consistent({1, 1}, {1, 1}, {2, 3}));
  EXPECT_FALSE(is_mendelian_consistent({4, 2}, {1, 2}, {2, 3}));
  EXPECT_TRUE(is_mendelian_consistent({3, 3}, none, {2, 3}));
  EXPECT_FALSE(is_mendelian_consistent({1, 1}, {2, 3}, none));
  EXPECT_TRUE(is_mendelian_consistent({4, 1}, none, none));
}

}  // namespace
}  // namespace pedsim
