#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "sim/error_injection.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

TEST(ReplacementAllele, QuartersWithOnlyTheLastBoundaryGoingUp) {
  const std::vector<std::pair<double, std::int32_t>> cases{
      {UniformStream::to_uniform(1), 1},
      {0.25, 1},
      {std::nextafter(0.25, 1.0), 2},
      {0.5, 2},
      {std::nextafter(0.5, 1.0), 3},
      {std::nextafter(0.75, 0.0), 3},
      {0.75, 4},
      {UniformStream::to_uniform(UniformStream::kZMax), 4}};
  for (const auto& [y, allele] : cases)
    EXPECT_EQ(ReplacementAlleles(Model{}.replacement_shares)(y), allele) << y;
}

// Rows: 1 and 2 ungenotyped founders, 3 a genotyped founder, 4 the animal
// tested.
struct CandidateCase {
  std::int32_t recorded, sire, dam;
  bool candidate;
};

class Candidate : public ::testing::TestWithParam<CandidateCase> {};

TEST_P(Candidate, GenotypedWithBothParentsKnownAndUngenotyped) {
  Pedigree pedigree(4);
  GenotypeStore genotypes(4, {Model{}.alleles()});
  pedigree.add_created(4);
  genotypes.marker(0).recorded_first[3] = 2;
  genotypes.marker(0).recorded_first[4] = static_cast<std::int8_t>(GetParam().recorded);
  pedigree.sire[4] = GetParam().sire;
  pedigree.dam[4] = GetParam().dam;
  EXPECT_EQ(is_error_candidate(pedigree, genotypes, 4), GetParam().candidate);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Candidate,
    ::testing::Values(CandidateCase{1, 1, 2, true}, CandidateCase{0, 1, 2, false},
                      CandidateCase{1, 0, 2, false}, CandidateCase{1, 1, 0, false},
                      CandidateCase{1, 3, 2, false}, CandidateCase{1, 1, 3, false},
                      CandidateCase{1, 0, 0, false}));

// A seeded stream whose first draws satisfy `wanted`.
UniformStream stream_where(const std::function<bool(UniformStream&)>& wanted) {
  for (std::int32_t seed = 0;; ++seed) {
    UniformStream s;
    s.seed_from_sum(seed);
    UniformStream probe = s;
    if (wanted(probe)) return s;
  }
}

struct InjectionCase {
  std::string name;
  std::int32_t old_allele;
  std::function<bool(double x, double y)> draws;
  std::uint64_t drawn;
  std::int32_t recorded;  // the first allele afterwards
};

class OneCandidate : public ::testing::TestWithParam<InjectionCase> {};

// Founders 1 and 2 ungenotyped; animal 3 their offspring, recorded as old/2.
TEST_P(OneCandidate, DrawsAndAlteration) {
  const auto& c = GetParam();
  Pedigree pedigree(3);
  GenotypeStore genotypes(3, {Model{}.alleles()});
  pedigree.add_created(3);
  pedigree.sire[3] = 1;
  pedigree.dam[3] = 2;
  genotypes.marker(0).recorded_first[3] = static_cast<std::int8_t>(c.old_allele);
  genotypes.marker(0).recorded_second[3] = 2;
  UniformStream stream = stream_where([&c](UniformStream& s) {
    const double x = UniformStream::to_uniform(s.next_z());
    return c.draws(x, UniformStream::to_uniform(s.next_z()));
  });
  std::vector<AlteredAnimal> altered;
  inject_errors(Model{}, pedigree, genotypes, stream, altered);
  EXPECT_EQ(stream.draws(), c.drawn);
  // The new allele is not reordered against the second.
  EXPECT_EQ(genotypes.recorded_genotype(3), (Genotype{c.recorded, 2}));
  const std::vector<AlteredAnimal> expected_altered =
      c.recorded == c.old_allele ? std::vector<AlteredAnimal>{}
                                 : std::vector<AlteredAnimal>{{3, c.old_allele}};
  EXPECT_EQ(altered, expected_altered);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OneCandidate,
    ::testing::Values(
        InjectionCase{"AlteredToFour", 1, [](double x, double y) { return x <= 0.5 && y > 0.75; },
                      2, 4},
        InjectionCase{"AlteredToThreeAboveTheSecond", 1,
                      [](double x, double y) { return x <= 0.5 && y > 0.5 && y < 0.75; }, 2, 3},
        InjectionCase{"SameAlleleReportedNowhere", 2,
                      [](double x, double y) { return x <= 0.5 && y > 0.25 && y <= 0.5; }, 2, 2},
        InjectionCase{"FirstDrawAboveHalfDrawsOnce", 3, [](double x, double) { return x > 0.5; }, 1,
                      3}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace pedsim
