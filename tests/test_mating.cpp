#include <gtest/gtest.h>

#include <set>

#include "reference/literal.hpp"
#include "sim/founders.hpp"
#include "sim/mating.hpp"
#include "sim/parent_selection.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

// A pedigree of `rows` rows in which animals 1..14 exist, those in `males`
// male and the others female, all 1/1 so that transmission draws nothing;
// the sire and dam lists as given.
struct HandBuilt {
  HandBuilt(std::int32_t rows, const std::set<std::int32_t>& males,
            const std::vector<std::int32_t>& sires, const std::vector<std::int32_t>& dams)
      : pedigree(rows), genotypes(rows, {Model{}.alleles()}) {
    parameters.males = static_cast<std::int32_t>(sires.size());
    parameters.females = static_cast<std::int32_t>(dams.size());
    parameters.dams_per_sire = parameters.females / parameters.males;
    parameters.rows = rows;
    parents = ParentLists(parameters);
    for (std::size_t k = 0; k < sires.size(); ++k)
      parents.sires[static_cast<int>(k + 1)] = sires[k];
    for (std::size_t k = 0; k < dams.size(); ++k) parents.dams[static_cast<int>(k + 1)] = dams[k];
    pedigree.add_created(14);
    for (std::int32_t i = 1; i <= 14; ++i) {
      pedigree.sex[i] = static_cast<std::int8_t>(males.count(i) ? kMale : kFemale);
      genotypes.marker(0).true_first[i] = 1;
      genotypes.marker(0).true_second[i] = 1;
    }
    stream.seed_from_sum(1);
  }
  std::int32_t mate(std::int32_t g) {
    return mate_generation(parameters, Model{}, pedigree, genotypes, parents, stream, scratch, g,
                           helper);
  }
  std::vector<std::int32_t> sires_of(std::int32_t first, std::int32_t last) const {
    std::vector<std::int32_t> sires;
    for (std::int32_t i = first; i <= last; ++i) sires.push_back(pedigree.sire[i]);
    return sires;
  }
  Parameters parameters;
  Pedigree pedigree;
  GenotypeStore genotypes;
  ParentLists parents;
  UniformStream stream;
  MatingScratch scratch;
  HelperThread helper;
};

TEST(MatingRule, DaughterOfTheBlockSireGoesToTheNextSire) {
  HandBuilt h(40, {1, 2, 12, 14}, {1, 12}, {13, 3, 4, 5});
  h.pedigree.sire[13] = 1;
  h.mate(1);
  EXPECT_EQ(h.sires_of(15, 18), (std::vector<std::int32_t>{12, 1, 12, 12}));
  EXPECT_EQ(h.pedigree.dam[15], 13);
  EXPECT_EQ(h.pedigree.dam[18], 5);
}

TEST(MatingRule, MotherOfTheBlockSireGoesToTheNextSireUntested) {
  // Dam 13 is the mother of sire 7 and the daughter of sire 8.
  HandBuilt h(40, {1, 2, 7, 8}, {7, 8}, {13, 3, 4, 5});
  h.pedigree.dam[7] = 13;
  h.pedigree.sire[13] = 8;
  h.mate(1);
  EXPECT_EQ(h.sires_of(15, 18), (std::vector<std::int32_t>{8, 7, 8, 8}));
}

TEST(MatingRule, DamMovedFromTheLastBlockGoesToTheFirstSire) {
  HandBuilt h(40, {1, 2}, {1, 2}, {3, 4, 13, 5});
  h.pedigree.sire[13] = 2;
  h.mate(1);
  EXPECT_EQ(h.sires_of(15, 18), (std::vector<std::int32_t>{1, 1, 1, 2}));
}

TEST(MatingRule, SingleSireKeepsHisDaughter) {
  HandBuilt h(40, {1}, {1}, {13});
  h.pedigree.sire[13] = 1;
  h.mate(1);
  EXPECT_EQ(h.pedigree.sire[15], 1);
  EXPECT_EQ(h.pedigree.dam[15], 13);
}

TEST(Mating, TableBoundEndsTheMatings) {
  HandBuilt h(16, {1, 2, 12, 14}, {1, 2}, {3, 4, 5, 6});
  EXPECT_EQ(h.mate(3), 2);
  EXPECT_EQ(h.pedigree.created(), 16);
  EXPECT_EQ(h.pedigree.born[16], 3);
  // Two sex draws; 1/1 parents draw nothing for transmission.
  EXPECT_EQ(h.stream.draws(), 2U);
}

// With fewer dams than sires no dam is listed per sire: nothing is bred and
// nothing drawn.
TEST(Mating, NoDamsPerSireBreedsNothing) {
  HandBuilt h(20, {1, 2, 3}, {1, 2, 3}, {4, 5});
  ASSERT_EQ(h.parameters.dams_per_sire, 0);
  EXPECT_EQ(h.mate(1), 0);
  EXPECT_EQ(h.pedigree.created(), 14);
  EXPECT_EQ(h.stream.draws(), 0U);
}

TEST(SkipParentSelection, DrawsOncePerCandidate) {
  // Rows 1..14 exist; row 7 has no sex code and is no candidate.
  HandBuilt h(40, {1, 2}, {1, 2}, {3, 4});
  h.pedigree.sex[7] = 0;
  skip_parent_selection(h.pedigree, h.stream);
  EXPECT_EQ(h.stream.draws(), 13U);
}

// Large generations are planned and bred in two halves side by side; the
// rows and the stream must be those of the literal mating loop. From the
// second generation relatives meet, so the mating rule moves dams.
TEST(Mating, LargeGenerationsBredInHalvesMatchTheLiteralLoop) {
  test::State fast(3, 80000, 4000, 77);
  test::State literal(3, 80000, 4000, 77);
  create_founders(fast.parameters, Model{}, fast.pedigree, fast.genotypes, fast.stream,
                  fast.parents);
  create_founders(literal.parameters, Model{}, literal.pedigree, literal.genotypes, literal.stream,
                  literal.parents);
  MatingScratch scratch;
  HelperThread helper;
  Candidates fast_candidates;
  Candidates literal_candidates;
  std::int64_t moved = 0;
  for (std::int32_t g = 1; g <= 3; ++g) {
    const std::int32_t first = fast.pedigree.created() + 1;
    mate_generation(fast.parameters, Model{}, fast.pedigree, fast.genotypes, fast.parents,
                    fast.stream, scratch, g, helper);
    reference::mate_generation(literal.parameters, literal.pedigree, literal.genotypes,
                               literal.parents, literal.stream, g);
    const Pedigree& a = fast.pedigree;
    const Pedigree& b = literal.pedigree;
    ASSERT_EQ(a.created(), b.created());
    for (std::int32_t i = first; i <= a.created(); ++i) {
      ASSERT_EQ(std::vector<std::int32_t>({a.sire[i], a.dam[i], a.sex[i], a.born[i]}),
                std::vector<std::int32_t>({b.sire[i], b.dam[i], b.sex[i], b.born[i]}))
          << "generation " << g << " row " << i;
      ASSERT_EQ(fast.genotypes.true_genotype(i), literal.genotypes.true_genotype(i)) << "row " << i;
      const std::int32_t block = (i - first) / fast.parameters.dams_per_sire + 1;
      moved += a.sire[i] != fast.parents.sires[block] ? 1 : 0;
    }
    ASSERT_EQ(fast.stream.s1(), literal.stream.s1());
    ASSERT_EQ(fast.stream.s2(), literal.stream.s2());
    ASSERT_EQ(fast.stream.draws(), literal.stream.draws());
    select_parents(fast.pedigree, fast_candidates, fast.parents, fast.stream, helper);
    select_parents(literal.pedigree, literal_candidates, literal.parents, literal.stream, helper);
  }
  EXPECT_GT(moved, 0);
}

}  // namespace
}  // namespace pedsim
