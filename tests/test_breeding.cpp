#include <gtest/gtest.h>

#include <set>

#include "core/breeding.hpp"
#include "core/founders.hpp"
#include "core/parents.hpp"
#include "core/setup.hpp"
#include "core/shuffle.hpp"
#include "core/transmission.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

// A table in which animals 1..last exist, the ones listed in `males` male and
// the others female, all 1/1 so that transmission draws nothing.
std::unique_ptr<test::TestRun> hand_built(std::int32_t male, std::int32_t female, std::int32_t ntot,
                                          std::int32_t last, const std::set<std::int32_t>& males) {
  auto t = std::make_unique<test::TestRun>();
  auto& run = t->run;
  run.ngen = 1;
  run.male = male;
  run.female = female;
  run.n = male + female;
  run.ratio = female / male;
  run.ntot = ntot;
  allocate_table(run);
  run.lastanimal = last;
  for (std::int32_t i = 1; i <= last; ++i) {
    run.IV4[i] = males.count(i) ? kMale : kFemale;
    run.IV51[i] = 1;
    run.IV52[i] = 1;
  }
  run.stream.seed_from_sum(1);
  return t;
}

void set_list(Column& list, const std::vector<std::int32_t>& values) {
  for (std::size_t k = 0; k < values.size(); ++k)
    list[static_cast<std::int32_t>(k + 1)] = values[k];
}

std::vector<std::int32_t> sires_of(const Run& run, std::int32_t first, std::int32_t last) {
  std::vector<std::int32_t> sires;
  for (std::int32_t i = first; i <= last; ++i) sires.push_back(run.IV2[i]);
  return sires;
}

TEST(MatingRule, DaughterOfTheBlockSireGoesToTheNextSire) {
  auto t = hand_built(2, 4, 40, 14, {1, 2, 12, 14});
  auto& run = t->run;
  run.IV2[13] = 1;
  set_list(run.IS, {1, 12});
  set_list(run.ID, {13, 3, 4, 5});
  breed_generation(run, 1);
  EXPECT_EQ(sires_of(run, 15, 18), (std::vector<std::int32_t>{12, 1, 12, 12}));
  EXPECT_EQ(run.IV3[15], 13);
  EXPECT_EQ(run.IV3[18], 5);
}

TEST(MatingRule, MovedDamIsMatedWithoutTestingTheNewSire) {
  // Dam 13 is the mother of sire 7 and the daughter of sire 8.
  auto t = hand_built(2, 4, 40, 14, {1, 2, 7, 8});
  auto& run = t->run;
  run.IV3[7] = 13;
  run.IV2[13] = 8;
  set_list(run.IS, {7, 8});
  set_list(run.ID, {13, 3, 4, 5});
  breed_generation(run, 1);
  EXPECT_EQ(sires_of(run, 15, 18), (std::vector<std::int32_t>{8, 7, 8, 8}));
}

TEST(MatingRule, DamMovedFromTheLastBlockGoesToTheFirstSire) {
  auto t = hand_built(2, 4, 40, 14, {1, 2});
  auto& run = t->run;
  run.IV2[13] = 2;
  set_list(run.IS, {1, 2});
  set_list(run.ID, {3, 4, 13, 5});
  breed_generation(run, 1);
  EXPECT_EQ(sires_of(run, 15, 18), (std::vector<std::int32_t>{1, 1, 1, 2}));
}

TEST(MatingRule, SingleSireKeepsHisDaughter) {
  auto t = hand_built(1, 1, 40, 14, {1});
  auto& run = t->run;
  run.IV2[13] = 1;
  set_list(run.IS, {1});
  set_list(run.ID, {13});
  EXPECT_EQ(sire_position(run, 1, 13), 1);
  breed_generation(run, 1);
  EXPECT_EQ(run.IV2[15], 1);
  EXPECT_EQ(run.IV3[15], 13);
}

TEST(MatingRule, TableBoundEndsTheMatingsButNotParentSelection) {
  auto t = hand_built(2, 4, 16, 14, {1, 2, 12, 14});
  auto& run = t->run;
  set_list(run.IS, {1, 2});
  set_list(run.ID, {3, 4, 5, 6});
  breed_generation(run, 3);
  EXPECT_EQ(run.lastanimal, 16);
  EXPECT_EQ(run.IV7[16], 3);
  // Two sex draws (1/1 parents draw nothing for transmission), then one per animal.
  EXPECT_EQ(run.stream.draws(), 2U + 16U);
  EXPECT_EQ(t->console.captured(), " generation            3\n");
}

// With fewer dams than sires no dam is listed per sire: nothing is bred and
// nothing drawn.
TEST(Mating, NoDamsPerSireBreedsNothing) {
  auto t = hand_built(3, 2, 10, 5, {1, 2, 3});
  auto& run = t->run;
  ASSERT_EQ(run.ratio, 0);
  set_list(run.IS, {1, 2, 3});
  set_list(run.ID, {4, 5});
  mate_generation(run, 1);
  EXPECT_EQ(run.lastanimal, 5);
  EXPECT_EQ(run.stream.draws(), 0U);
}

// After the last generation only the numbers of the choice are taken; what
// follows in the stream must be what it would be after a full choice.
TEST(BreedGenerations, LastChoiceOnlyTakesItsNumbers) {
  auto skipped = test::make_run(3, 400, 20, 5);
  auto chosen = test::make_run(3, 400, 20, 5);
  create_founders(skipped->run);
  create_founders(chosen->run);
  breed_generations(skipped->run);
  for (std::int32_t g = 1; g <= 3; ++g) {
    mate_generation(chosen->run, g);
    parents(chosen->run);
  }
  EXPECT_EQ(skipped->run.lastanimal, chosen->run.lastanimal);
  EXPECT_EQ(skipped->run.stream.s1(), chosen->run.stream.s1());
  EXPECT_EQ(skipped->run.stream.s2(), chosen->run.stream.s2());
  EXPECT_EQ(skipped->run.stream.draws(), chosen->run.stream.draws());
}

TEST(BreedGenerations, SkippedChoiceCountsOnlyCandidates) {
  // Rows 1..14 exist; row 7 has no sex code and is no candidate.
  auto t = hand_built(2, 4, 40, 14, {1, 2, 12, 14});
  auto& run = t->run;
  run.IV4[7] = 0;
  skip_parents(run);
  EXPECT_EQ(run.stream.draws(), 13U);
}

// The matings of a generation one after the other, drawing as they go.
void mate_one_by_one(Run& run, std::int32_t g) {
  std::int32_t l = 0;
  for (std::int32_t s = 1; s <= run.male; ++s) {
    for (std::int32_t k = 1; k <= run.ratio; ++k) {
      const std::int32_t d = run.ID[++l];
      const std::int32_t sire = run.IS[sire_position(run, s, d)];
      const std::int32_t i = run.lastanimal + 1;
      if (i > run.ntot) return;
      transmission(run, sire, d, i);
      run.IV4[i] = run.stream.draw_uniform() > 0.5 ? kFemale : kMale;
      run.IV2[i] = sire;
      run.IV3[i] = d;
      run.IV7[i] = g;
      run.lastanimal = i;
    }
  }
}

TEST(Mating, LargeGenerationsBredInHalvesMatchOneByOne) {
  // 4000 sires with 19 dams each: enough matings for two threads; the second
  // generation mates relatives, so the sire rule moves some dams.
  auto planned = test::make_run(3, 80000, 4000, 77);
  auto literal = test::make_run(3, 80000, 4000, 77);
  create_founders(planned->run);
  create_founders(literal->run);
  for (std::int32_t g = 1; g <= 3; ++g) {
    const std::int32_t first = planned->run.lastanimal + 1;
    mate_generation(planned->run, g);
    mate_one_by_one(literal->run, g);
    const pedsim::Run& a = planned->run;
    const pedsim::Run& b = literal->run;
    ASSERT_EQ(a.lastanimal, b.lastanimal);
    for (std::int32_t i = first; i <= a.lastanimal; ++i) {
      ASSERT_EQ(std::vector<std::int32_t>(
                    {a.IV1[i], a.IV2[i], a.IV3[i], a.IV4[i], a.IV51[i], a.IV52[i], a.IV7[i]}),
                std::vector<std::int32_t>(
                    {b.IV1[i], b.IV2[i], b.IV3[i], b.IV4[i], b.IV51[i], b.IV52[i], b.IV7[i]}))
          << "row " << i;
    }
    ASSERT_EQ(a.stream.s1(), b.stream.s1());
    ASSERT_EQ(a.stream.s2(), b.stream.s2());
    ASSERT_EQ(a.stream.draws(), b.stream.draws());
    parents(planned->run);
    parents(literal->run);
  }
}

struct BreedCase {
  std::int32_t ngen, n, male, seed;
};

class LargeSelection : public ::testing::TestWithParam<BreedCase> {};

// Long candidate lists are shuffled on two threads, the female keys drawn in
// two parts; every generation must choose what one shuffle after the other
// chooses, from the same stream.
TEST_P(LargeSelection, SideBySideMatchesOneAfterTheOther) {
  const auto& c = GetParam();
  auto t = test::make_run(c.ngen, c.n, c.male, c.seed);
  auto& run = t->run;
  create_founders(run);
  for (std::int32_t g = 1; g <= run.ngen; ++g) {
    mate_generation(run, g);
    std::vector<std::int32_t> males, females;
    for (std::int32_t i = 1; i <= run.lastanimal; ++i)
      (run.IV4[i] == kMale ? males : females).push_back(i);
    UniformStream expected_stream = run.stream;
    ShuffleScratch scratch;
    std::vector<std::int32_t> sires(static_cast<std::size_t>(run.male));
    std::vector<std::int32_t> dams(static_cast<std::size_t>(run.female));
    shuffle_prefix(males, sires, expected_stream, scratch);
    shuffle_prefix(females, dams, expected_stream, scratch);

    parents(run);
    ASSERT_EQ(std::vector<std::int32_t>(run.IS.begin(), run.IS.end()), sires) << g;
    ASSERT_EQ(std::vector<std::int32_t>(run.ID.begin(), run.ID.end()), dams) << g;
    ASSERT_EQ(run.stream.s1(), expected_stream.s1());
    ASSERT_EQ(run.stream.s2(), expected_stream.s2());
    ASSERT_EQ(run.stream.draws(), expected_stream.draws());
  }
}

// 1 140000 1000: 279000 candidates, every female key kept; 3 150000 5000:
// female lists of several key blocks, only keys below a bound kept.
INSTANTIATE_TEST_SUITE_P(Runs, LargeSelection,
                         ::testing::Values(BreedCase{1, 140000, 1000, 21},
                                           BreedCase{3, 150000, 5000, 4}));

class BreedingRun : public ::testing::TestWithParam<BreedCase> {};

TEST_P(BreedingRun, PedigreeInvariantsAndDrawsPerPhase) {
  const auto& c = GetParam();
  auto t = test::make_run(c.ngen, c.n, c.male, c.seed);
  auto& run = t->run;
  create_founders(run);
  ASSERT_EQ(run.stream.draws(), static_cast<std::uint64_t>(c.n));

  const std::int32_t per_generation = run.male * run.ratio;
  for (std::int32_t g = 1; g <= run.ngen; ++g) {
    const auto before = run.stream.draws();
    const std::int32_t first = run.lastanimal + 1;
    const std::vector<std::int32_t> sires(run.IS.begin(), run.IS.end());
    const std::vector<std::int32_t> dams(run.ID.begin(), run.ID.end());
    breed_generation(run, g);
    ASSERT_EQ(run.lastanimal, run.n + g * per_generation);

    std::uint64_t expected_draws = static_cast<std::uint64_t>(run.lastanimal);
    for (std::int32_t i = first; i <= run.lastanimal; ++i) {
      const std::int32_t sire = run.IV2[i];
      const std::int32_t dam = run.IV3[i];
      EXPECT_EQ(run.IV1[i], i);
      EXPECT_EQ(run.IV7[i], g);
      EXPECT_TRUE(run.IV4[i] == kMale || run.IV4[i] == kFemale);
      EXPECT_LT(sire, first);
      EXPECT_LT(dam, first);
      EXPECT_EQ(run.IV4[sire], kMale);
      EXPECT_EQ(run.IV4[dam], kFemale);
      EXPECT_NE(std::find(sires.begin(), sires.end(), sire), sires.end());
      // Dams are used in list order.
      EXPECT_EQ(dam, dams[static_cast<std::size_t>(i - first)]);
      const Genotype child{run.IV51[i], run.IV52[i]};
      const Genotype s{run.IV51[sire], run.IV52[sire]};
      const Genotype d{run.IV51[dam], run.IV52[dam]};
      EXPECT_TRUE(child.first <= child.second && child.first >= 1 && child.second <= 3);
      const bool from_sire = child.first == s.first || child.first == s.second ||
                             child.second == s.first || child.second == s.second;
      const bool from_dam = child.first == d.first || child.first == d.second ||
                            child.second == d.first || child.second == d.second;
      EXPECT_TRUE(from_sire && from_dam);
      expected_draws += 1 + (transmission_draws(s, d) ? 1 : 0);
    }
    ASSERT_EQ(run.stream.draws() - before, expected_draws) << "generation " << g;
  }
  for (std::int32_t i = run.lastanimal + 1; i <= run.ntot; ++i) {
    EXPECT_EQ(run.IV1[i], 0) << "unfilled row " << i;
    for (Column* col : {&run.IV2, &run.IV3, &run.IV7}) {
      EXPECT_EQ((*col)[i], 0) << "unfilled row " << i;
    }
    for (CodeColumn* col : {&run.IV4, &run.IV51, &run.IV52}) {
      EXPECT_EQ((*col)[i], 0) << "unfilled row " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SeededRuns, BreedingRun,
                         ::testing::Values(BreedCase{3, 20, 5, 74565}, BreedCase{2, 10, 3, 107333},
                                           BreedCase{12, 40, 8, -5}, BreedCase{1, 2, 1, 3},
                                           BreedCase{6, 300, 7, 99}, BreedCase{4, 1000, 100, 1}));

}  // namespace
}  // namespace pedsim
