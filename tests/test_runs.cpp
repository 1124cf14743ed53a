#include <gtest/gtest.h>

#include <random>

#include "pedsim/pedsim.hpp"
#include "reference/literal.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

struct Outputs {
  StringSink console, pedigree, errors;
  OutputSinks sinks() { return {&console, &pedigree, &errors}; }
};

// What a finished run writes, from memory.
Outputs written(const Simulation& run) {
  Outputs out;
  write_outputs(run, out.sinks());
  return out;
}

class GoldenInMemory : public ::testing::TestWithParam<std::string> {};

// Through the public header alone: a run in memory, then written, equals the
// reference files; so does a run that writes while it simulates; and the
// table in memory agrees with the records.
TEST_P(GoldenInMemory, InMemoryThenWrittenEqualsTheReferenceFiles) {
  const auto golden = test::golden_case(GetParam());
  const Parameters p = Parameters::make(std::stoi(golden.args[0]), std::stoi(golden.args[1]),
                                        std::stoi(golden.args[2]));
  const Seed seed{std::stoi(golden.seed), "PEDSIM_SEED"};
  const Simulation run = simulate(p, seed);
  const Outputs out = written(run);
  const std::string stdout_text = test::read_file(golden.dir / "stdout");
  std::size_t after_echo = 0;
  for (int line = 0; line < 3; ++line) after_echo = stdout_text.find('\n', after_echo) + 1;
  EXPECT_EQ(out.console.text, stdout_text.substr(after_echo));
  EXPECT_EQ(out.pedigree.text, test::read_file(golden.dir / "ped.pre"));
  EXPECT_EQ(out.errors.text, test::read_file(golden.dir / "ped.errors"));

  Outputs streamed;
  simulate(p, seed, streamed.sinks());
  EXPECT_EQ(streamed.console.text, out.console.text);
  EXPECT_EQ(streamed.pedigree.text, out.pedigree.text);
  EXPECT_EQ(streamed.errors.text, out.errors.text);

  const auto records = test::split_lines(out.pedigree.text);
  ASSERT_EQ(static_cast<std::int32_t>(records.size()), run.pedigree.rows());
  for (std::int32_t i = 1; i <= run.pedigree.rows(); ++i) {
    const auto f = test::fields_of(records[static_cast<std::size_t>(i - 1)]);
    EXPECT_EQ(f[4], run.genotypes.marker(0).recorded_first[i]) << i;
    EXPECT_EQ(f[5], run.genotypes.marker(0).recorded_second[i]) << i;
  }
  std::vector<AlteredAnimal> listed;
  for (const auto& line : test::split_lines(out.errors.text)) {
    const auto f = test::fields_of(line);
    listed.push_back({static_cast<std::int32_t>(f[0]), static_cast<std::int32_t>(f[1])});
  }
  EXPECT_EQ(run.altered, listed);
}

INSTANTIATE_TEST_SUITE_P(Reference, GoldenInMemory, ::testing::ValuesIn(test::kGoldenCases),
                         [](const auto& info) { return test::case_name(info.param); });

struct RunCase {
  std::int32_t generations, founders, males, seed;
};

class LiteralRun : public ::testing::TestWithParam<RunCase> {};

// Whole runs against the literal procedures, which draw one number at a
// time, shuffle with the quadratic selection sort and choose parents after
// the last generation too: every column, the altered animals and every byte.
TEST_P(LiteralRun, EqualsTheLiteralProcedures) {
  const auto& c = GetParam();
  const Parameters p = Parameters::make(c.generations, c.founders, c.males);
  const Simulation run = simulate(p, {c.seed, "PEDSIM_SEED"});
  const Simulation literal = reference::simulate(p, c.seed);
  const Pedigree& a = run.pedigree;
  const Pedigree& b = literal.pedigree;
  const GenotypeStore& ga = run.genotypes;
  const GenotypeStore& gb = literal.genotypes;
  ASSERT_EQ(a.created(), b.created());
  for (std::int32_t i = 1; i <= a.rows(); ++i) {
    ASSERT_EQ(std::vector<std::int32_t>(
                  {a.animal(i), a.sire[i], a.dam[i], a.sex[i], a.born[i], ga.lost[i]}),
              std::vector<std::int32_t>(
                  {b.animal(i), b.sire[i], b.dam[i], b.sex[i], b.born[i], gb.lost[i]}))
        << "row " << i;
    ASSERT_EQ(ga.true_genotype(i), gb.true_genotype(i)) << "row " << i;
    ASSERT_EQ(ga.recorded_genotype(i), gb.recorded_genotype(i)) << "row " << i;
  }
  EXPECT_EQ(run.altered, literal.altered);
  EXPECT_EQ(run.animals_born, literal.animals_born);
  const Outputs out = written(run);
  EXPECT_EQ(out.pedigree.text, reference::ped_pre(b, gb));
  EXPECT_EQ(out.errors.text, reference::ped_errors(literal.altered));
  EXPECT_EQ(out.console.text, reference::console(literal));
}

INSTANTIATE_TEST_SUITE_P(
    Table, LiteralRun,
    ::testing::Values(RunCase{3, 20, 5, 74565}, RunCase{2, 10, 3, 107333}, RunCase{12, 40, 8, -5},
                      RunCase{0, 7, 7, 1}, RunCase{1, 2, 1, 3}, RunCase{6, 300, 7, 99},
                      RunCase{4, 1000, 100, 1},
                      // One sire: the mating rule never moves a dam.
                      RunCase{5, 60, 1, 42},
                      // Seeds at the first component's fold boundary and just past it.
                      RunCase{12, 40, 8, -11272192}, RunCase{12, 40, 8, -11206656},
                      RunCase{10, 200, 20, 2147483647},
                      // Lists of thousands, where equal keys occur.
                      RunCase{3, 2000, 5, 9}, RunCase{2, 5000, 2500, 7}),
    [](const auto& info) {
      const auto& c = info.param;
      return test::case_name(std::to_string(c.generations) + "_" + std::to_string(c.founders) +
                             "_" + std::to_string(c.males) + "_seed_" + std::to_string(c.seed));
    });

// A run large enough for every side-by-side path: its records, formatted on
// two threads, equal the literal layout of its table, whether written while
// the errors are injected or afterwards.
TEST(LargeRun, RecordsOnTwoThreadsEqualTheLiteralLayout) {
  const Parameters p = Parameters::make(2, 100000, 10000);
  Outputs streamed;
  const Simulation run = simulate(p, {8080, "PEDSIM_SEED"}, streamed.sinks());
  ASSERT_GE(run.pedigree.rows(), 1 << 18);
  EXPECT_TRUE(streamed.pedigree.text == reference::ped_pre(run.pedigree, run.genotypes));
  EXPECT_EQ(streamed.errors.text, reference::ped_errors(run.altered));
  const Outputs out = written(run);
  EXPECT_TRUE(out.pedigree.text == streamed.pedigree.text);
  EXPECT_EQ(out.console.text, streamed.console.text);
}

}  // namespace
}  // namespace pedsim

namespace pedsim {
namespace {

// Random small shapes, within the limits: every run equals the literal one.
TEST(LiteralRun, RandomSmallRuns) {
  std::mt19937 rng(8122026);
  for (int trial = 0; trial < 150; ++trial) {
    const auto pick = [&rng](std::int32_t lo, std::int32_t hi) {
      return std::uniform_int_distribution<std::int32_t>(lo, hi)(rng);
    };
    const std::int32_t males = pick(1, 6);
    const std::int32_t generations = pick(0, 11);
    const std::int32_t founders = 2 * males + pick(0, 40);
    const auto seed = static_cast<std::int32_t>(rng());
    const Parameters p = Parameters::make(generations, founders, males);
    const Simulation run = simulate(p, {seed, "PEDSIM_SEED"});
    const Simulation literal = reference::simulate(p, seed);
    const Outputs out = written(run);
    ASSERT_EQ(out.pedigree.text, reference::ped_pre(literal.pedigree, literal.genotypes))
        << generations << " " << founders << " " << males << " seed " << seed;
    ASSERT_EQ(out.errors.text, reference::ped_errors(literal.altered));
    ASSERT_EQ(out.console.text, reference::console(literal));
  }
}

}  // namespace
}  // namespace pedsim
