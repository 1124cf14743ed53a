#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "core/transmission.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

Genotype g(int code) { return {code / 10, code % 10}; }

// Every ordered pair of parent genotypes: the number of draws and the
// offspring for x in each quarter (x <= 0.25, <= 0.5, <= 0.75, above).
struct Row {
  int sire, dam, draws;
  std::array<int, 4> offspring;
};

constexpr std::array<Row, 36> kTable{{
    {11, 11, 0, {11, 11, 11, 11}}, {11, 12, 1, {11, 11, 12, 12}}, {11, 13, 1, {11, 11, 13, 13}},
    {11, 22, 0, {12, 12, 12, 12}}, {11, 23, 1, {12, 12, 13, 13}}, {11, 33, 0, {13, 13, 13, 13}},
    {12, 11, 1, {11, 11, 12, 12}}, {12, 12, 1, {11, 12, 12, 22}}, {12, 13, 1, {11, 13, 12, 23}},
    {12, 22, 1, {12, 12, 22, 22}}, {12, 23, 1, {12, 13, 22, 23}}, {12, 33, 1, {13, 13, 23, 23}},
    {13, 11, 1, {11, 11, 13, 13}}, {13, 12, 1, {11, 13, 12, 23}}, {13, 13, 1, {11, 13, 13, 33}},
    {13, 22, 1, {12, 12, 23, 23}}, {13, 23, 1, {12, 13, 23, 33}}, {13, 33, 1, {13, 13, 33, 33}},
    {22, 11, 0, {12, 12, 12, 12}}, {22, 12, 1, {12, 12, 22, 22}}, {22, 13, 1, {12, 12, 23, 23}},
    {22, 22, 0, {22, 22, 22, 22}}, {22, 23, 1, {22, 22, 23, 23}}, {22, 33, 0, {23, 23, 23, 23}},
    {23, 11, 1, {12, 12, 13, 13}}, {23, 12, 1, {12, 13, 22, 23}}, {23, 13, 1, {12, 13, 23, 33}},
    {23, 22, 1, {22, 22, 23, 23}}, {23, 23, 1, {22, 23, 23, 33}}, {23, 33, 1, {23, 23, 33, 33}},
    {33, 11, 0, {13, 13, 13, 13}}, {33, 12, 1, {13, 13, 23, 23}}, {33, 13, 1, {13, 13, 33, 33}},
    {33, 22, 0, {23, 23, 23, 23}}, {33, 23, 1, {23, 23, 33, 33}}, {33, 33, 0, {33, 33, 33, 33}},
}};

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

class TransmissionTable : public ::testing::TestWithParam<Row> {};

// The rule, and the table worked out from it in advance that breeding looks
// up by the quarter the draw lies in, at every boundary.
TEST_P(TransmissionTable, OffspringAtEveryBoundary) {
  const Row& row = GetParam();
  const TransmissionRule* rule = transmission_rule(g(row.sire), g(row.dam));
  ASSERT_NE(rule, nullptr);
  EXPECT_EQ(rule->draws, row.draws == 1);
  for (const auto& probe : probes()) {
    const auto child = offspring_genotype(g(row.sire), g(row.dam), probe.x);
    ASSERT_TRUE(child.has_value());
    EXPECT_EQ(*child, g(row.offspring[probe.quarter]))
        << row.sire << " x " << row.dam << " at " << probe.x;
    // Swapping sire and dam gives the same offspring for the same draw.
    EXPECT_EQ(offspring_genotype(g(row.dam), g(row.sire), probe.x), child);
    const int q = rule->draws ? quarter_of(probe.x) : 0;
    EXPECT_EQ((Genotype{rule->first[q], rule->second[q]}), *child);
  }
}

TEST_P(TransmissionTable, TakesTheDesignatedNumberOfDraws) {
  const Row& row = GetParam();
  EXPECT_EQ(transmission_draws(g(row.sire), g(row.dam)), row.draws == 1);
  UniformStream stream(12345, 67890);
  UniformStream copy = stream;
  const auto child = transmit(g(row.sire), g(row.dam), stream);
  EXPECT_EQ(stream.draws(), static_cast<std::uint64_t>(row.draws));
  const double x = row.draws == 1 ? copy.draw_uniform() : 0.5;
  EXPECT_EQ(child, offspring_genotype(g(row.sire), g(row.dam), x));
}

INSTANTIATE_TEST_SUITE_P(AllOrderedPairs, TransmissionTable, ::testing::ValuesIn(kTable));

TEST(Transmission, GenotypeCodesOfEveryAllelePair) {
  int next_code = 0;
  for (std::int32_t a = -1; a <= 4; ++a) {
    for (std::int32_t b = -1; b <= 4; ++b) {
      const bool valid = a >= 1 && b <= 3 && a <= b;
      EXPECT_EQ(genotype_code({a, b}), valid ? next_code++ : -1) << a << "/" << b;
      if (!valid) {
        EXPECT_EQ(transmission_rule(Genotype{a, b}, Genotype{1, 1}), nullptr);
      }
    }
  }
  EXPECT_EQ(next_code, 6);
}

TEST(Transmission, ParentOutsideTheSixGenotypesMatchesNothing) {
  for (const auto& [sire, dam] : std::vector<std::pair<Genotype, Genotype>>{
           {{0, 0}, {1, 2}}, {{2, 1}, {1, 2}}, {{1, 4}, {1, 1}}, {{1, 2}, {3, 2}}}) {
    UniformStream stream(1, 1);
    EXPECT_FALSE(transmit(sire, dam, stream).has_value());
    EXPECT_EQ(stream.draws(), 0U);
  }
}

TEST(Transmission, WritesTheOffspringRowInPlace) {
  auto t = test::make_run(1, 4, 2, 9);
  auto& run = t->run;
  run.IV51[1] = 1;
  run.IV52[1] = 1;
  run.IV51[3] = 3;
  run.IV52[3] = 3;
  transmission(run, 1, 3, 5);
  EXPECT_EQ(run.IV51[5], 1);
  EXPECT_EQ(run.IV52[5], 3);
  EXPECT_EQ(run.stream.draws(), 0U);
  // An invalid parent leaves the offspring's row as set up.
  transmission(run, 2, 3, 6);
  EXPECT_EQ(run.IV51[6], 0);
  EXPECT_EQ(run.IV52[6], 0);
}

}  // namespace
}  // namespace pedsim
