#include <gtest/gtest.h>

#include <cmath>

#include "reference/literal.hpp"
#include "sim/transmission.hpp"

namespace pedsim {
namespace {

Genotype g(int digits) { return {digits / 10, digits % 10}; }

// Draw values around every boundary, with the quarter each belongs to.
struct Probe {
  double x;
  int quarter;
};

std::vector<Probe> probes() {
  std::vector<Probe> p{{UniformStream::to_uniform(1), 0},
                       {UniformStream::to_uniform(UniformStream::kZMax), 3}};
  for (int q = 1; q <= 3; ++q) {
    const double b = 0.25 * q;
    p.push_back({std::nextafter(b, 0.0), q - 1});
    p.push_back({b, q - 1});
    p.push_back({std::nextafter(b, 1.0), q});
  }
  return p;
}

class TransmissionTable : public ::testing::TestWithParam<reference::TransmissionRow> {};

// The rules breeding looks up, against the table of every ordered pair
// written out by hand, at every boundary of the draw.
TEST_P(TransmissionTable, RuleMatchesTheTableAtEveryBoundary) {
  const auto& row = GetParam();
  const TransmissionRule& rule =
      transmission_rule(genotype_code(g(row.sire)), genotype_code(g(row.dam)));
  EXPECT_EQ(rule.draws, row.draws == 1);
  for (const Probe& probe : probes()) {
    EXPECT_EQ(quarter_of(probe.x), probe.quarter) << probe.x;
    const int q = rule.draws ? quarter_of(probe.x) : 0;
    EXPECT_EQ((Genotype{rule.first[q], rule.second[q]}), g(row.offspring[probe.quarter]))
        << row.sire << " x " << row.dam << " at " << probe.x;
  }
}

INSTANTIATE_TEST_SUITE_P(AllOrderedPairs, TransmissionTable,
                         ::testing::ValuesIn(reference::kTransmissionTable), [](const auto& info) {
                           return std::to_string(info.param.sire) + "_x_" +
                                  std::to_string(info.param.dam);
                         });

TEST(Transmission, OnlyTheSixGenotypesHaveCodes) {
  const std::vector<std::pair<Genotype, int>> cases{
      {{1, 1}, 0},  {{1, 2}, 1},  {{1, 3}, 2},  {{2, 2}, 3},  {{2, 3}, 4}, {{3, 3}, 5},
      {{0, 0}, -1}, {{2, 1}, -1}, {{1, 4}, -1}, {{4, 4}, -1}, {{0, 1}, -1}};
  for (const auto& [genotype, code] : cases) {
    EXPECT_EQ(genotype_code(genotype), code) << genotype.first << "/" << genotype.second;
  }
}

}  // namespace
}  // namespace pedsim
