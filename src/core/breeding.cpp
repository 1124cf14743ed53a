#include "core/breeding.hpp"

#include <algorithm>
#include <future>
#include <stdexcept>

#include "core/parents.hpp"
#include "core/transmission.hpp"

namespace pedsim {

std::int32_t sire_position(const Run& run, std::int32_t s, std::int32_t d) {
  const std::int32_t sire = run.IS[s];
  if (sire == run.IV2[d] || d == run.IV3[sire]) return s + 1 > run.male ? 1 : s + 1;
  return s;
}

namespace {

// How many matings ahead the rows of a dam are fetched into the cache: the
// dams of a generation lie anywhere in the table, and waiting for each one's
// row in turn would dominate the matings of a large run.
constexpr std::int32_t kPrefetchDistance = 8;

// From this many matings on, a generation is bred by two threads.
constexpr std::int32_t kParallelMatings = 1 << 15;

void prefetch_dam(const Run& run, std::int32_t animal) {
  run.IV2.prefetch(animal);
  run.IV51.prefetch(animal);
  run.IV52.prefetch(animal);
}

void prefetch_sire(const Run& run, std::int32_t animal) {
  run.IV3.prefetch(animal);
  run.IV51.prefetch(animal);
  run.IV52.prefetch(animal);
}

int genotype_code_of(const Run& run, std::int32_t animal) {
  return genotype_code({run.IV51[animal], run.IV52[animal]});
}

// Settles the matings first..last-1 of the generation (counted from 0): the
// sire actually used and both parents' genotype codes. Draws nothing; returns
// how many numbers their transmissions will draw.
std::uint64_t plan_matings(Run& run, std::int32_t first, std::int32_t last) {
  std::uint64_t draws = 0;
  if (first >= last) return draws;
  // Sire block s holds the matings (s - 1) * ratio to s * ratio - 1.
  for (std::int32_t s = first / run.ratio + 1, t = first; t < last; ++s) {
    if (s < run.male) prefetch_sire(run, run.IS[s + 1]);
    const std::int32_t block_end = std::min(last, s * run.ratio);
    for (; t < block_end; ++t) {
      if (t + kPrefetchDistance < last) prefetch_dam(run, run.ID[t + 1 + kPrefetchDistance]);
      const std::int32_t d = run.ID[t + 1];
      const std::int32_t sire = run.IS[sire_position(run, s, d)];
      // The matings are settled before any offspring exists, which holds as
      // long as every parent was created before the generation began.
      if (d > run.lastanimal || sire > run.lastanimal) {
        throw std::logic_error("a parent of this generation is not yet created");
      }
      int sire_code = genotype_code_of(run, sire);
      int dam_code = genotype_code_of(run, d);
      if (sire_code < 0 || dam_code < 0) sire_code = dam_code = -1;
      run.mating_plan.matings[static_cast<std::size_t>(t)] = {
          sire, static_cast<std::int8_t>(sire_code), static_cast<std::int8_t>(dam_code)};
      if (sire_code >= 0 && transmission_rule(sire_code, dam_code).draws) ++draws;
    }
  }
  return draws;
}

// Creates the offspring of the planned matings first..last-1, whose
// transmissions draw `transmission_draws` numbers: all their numbers are
// drawn at once from `stream` (through its lanes), then used in order.
void create_offspring(Run& run, UniformStream& stream, MatingDraws& draws, std::int32_t g,
                      std::int32_t first, std::int32_t last, std::uint64_t transmission_draws) {
  draws.resize(static_cast<std::size_t>(last - first) + transmission_draws);
  stream.fill_z(draws);
  std::size_t next = 0;
  const auto draw = [&draws, &next] {
    return UniformStream::to_uniform(static_cast<std::int32_t>(draws[next++]));
  };
  for (std::int32_t t = first; t < last; ++t) {
    const PlannedMating& m = run.mating_plan.matings[static_cast<std::size_t>(t)];
    const std::int32_t i = run.lastanimal + 1 + t;
    if (m.sire_code >= 0) {
      const TransmissionRule& rule = transmission_rule(m.sire_code, m.dam_code);
      const int q = rule.draws ? quarter_of(draw()) : 0;
      run.IV51[i] = rule.first[q];
      run.IV52[i] = rule.second[q];
    }
    run.IV4[i] = draw() > 0.5 ? kFemale : kMale;
    run.IV2[i] = m.sire;
    run.IV3[i] = run.ID[t + 1];
    run.IV7[i] = g;
  }
}

}  // namespace

void mate_generation(Run& run, std::int32_t g) {
  // Every mating creates the next row; the matings end early when the table
  // is full.
  const std::int64_t room = std::max<std::int64_t>(0, std::int64_t{run.ntot} - run.lastanimal);
  const auto matings = static_cast<std::int32_t>(
      std::clamp<std::int64_t>(std::int64_t{run.male} * run.ratio, 0, room));
  auto& plan = run.mating_plan;
  plan.matings.resize(static_cast<std::size_t>(matings));
  if (matings < kParallelMatings) {
    const std::uint64_t draws = plan_matings(run, 0, matings);
    create_offspring(run, run.stream, plan.draws[0], g, 0, matings, draws);
  } else {
    // Each mating draws its sex and, unless both parents are homozygous, a
    // transmission number; once the first half is planned, the stream can
    // be jumped to the second half, and both halves are bred side by side.
    const std::int32_t half = matings / 2;
    auto second_planned = std::async(
        std::launch::async, [&run, half, matings] { return plan_matings(run, half, matings); });
    const std::uint64_t first_draws = plan_matings(run, 0, half);
    const std::uint64_t second_draws = second_planned.get();
    UniformStream second_stream = run.stream;
    second_stream.jump(static_cast<std::uint64_t>(half) + first_draws);
    auto second_bred = std::async(
        std::launch::async, [&run, &plan, &second_stream, g, half, matings, second_draws] {
          create_offspring(run, second_stream, plan.draws[1], g, half, matings, second_draws);
        });
    create_offspring(run, run.stream, plan.draws[0], g, 0, half, first_draws);
    second_bred.get();
    run.stream = second_stream;
  }
  run.lastanimal += matings;
}

void breed_generation(Run& run, std::int32_t g) {
  console_label_int(run.console, "generation ", g);
  mate_generation(run, g);
  // The sires and dams chosen after the last generation are never used:
  // only the numbers their choice draws are taken.
  if (g == run.ngen) {
    skip_parents(run);
  } else {
    parents(run);
  }
}

void breed_generations(Run& run) {
  for (std::int32_t g = 1; g <= run.ngen; ++g) breed_generation(run, g);
}

}  // namespace pedsim
