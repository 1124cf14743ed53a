#include "sim/mating.hpp"

#include <algorithm>
#include <stdexcept>

#include "sim/column_storage.hpp"
#include "sim/transmission.hpp"

namespace pedsim {

std::int32_t sire_position(const Pedigree& pedigree, const ParentLists& parents, std::int32_t s,
                           std::int32_t dam) {
  const std::int32_t sire = parents.sires[s];
  if (sire == pedigree.sire[dam] || dam == pedigree.dam[sire]) {
    return s + 1 > parents.sires.size() ? 1 : s + 1;
  }
  return s;
}

namespace {

// How many matings ahead the rows of a dam are fetched into the cache: the
// dams of a generation lie anywhere in the table, and waiting for each one's
// row in turn would dominate the matings of a large run.
constexpr std::int32_t kPrefetchDistance = 16;

// From this many matings on, a generation is bred in two halves side by side:
// each half then takes a few hundred microseconds, well above the tens that
// starting and joining a thread cost.
constexpr std::int32_t kMatingsInHalves = 1 << 13;

// The matings of one generation, numbered from 0: mating t is the dam at
// position t + 1 of the dam list, in sire block t / dams_per_sire + 1.
class Generation {
 public:
  Generation(const Parameters& parameters, const Model& model, Pedigree& pedigree,
             MarkerColumns& marker, const ParentLists& parents, MatingScratch& scratch,
             std::int32_t g)
      : parameters_(parameters),
        male_probability_(model.male_probability),
        pedigree_(pedigree),
        marker_(marker),
        parents_(parents),
        scratch_(scratch),
        g_(g) {}

  // Settles matings first..last-1: the sire actually used and both parents'
  // genotype codes. Draws nothing; returns how many numbers their
  // transmissions will draw.
  std::uint64_t plan(std::int32_t first, std::int32_t last) {
    std::uint64_t draws = 0;
    if (first >= last) return draws;
    const std::int32_t per_sire = parameters_.dams_per_sire;
    for (std::int32_t s = first / per_sire + 1, t = first; t < last; ++s) {
      if (s < parameters_.males) prefetch_sire(parents_.sires[s + 1]);
      const std::int32_t block_end = std::min(last, s * per_sire);
      for (; t < block_end; ++t) {
        if (t + kPrefetchDistance < last) prefetch_dam(parents_.dams[t + 1 + kPrefetchDistance]);
        draws += plan_mating(s, t) ? 1 : 0;
      }
    }
    return draws;
  }

  // Creates the offspring of the planned matings first..last-1, whose
  // transmissions draw `transmission_draws` numbers: all their numbers are
  // drawn at once from `stream` (through its lanes), then used in order.
  void breed(UniformStream& stream, MatingScratch::Draws& draws, std::int32_t first,
             std::int32_t last, std::uint64_t transmission_draws) {
    draws.resize(static_cast<std::size_t>(last - first) + transmission_draws);
    stream.fill_z(draws);
    const std::uint32_t* next = draws.data();
    const auto draw = [&next] {
      return UniformStream::to_uniform(static_cast<std::int32_t>(*next++));
    };
    // The columns by address, held in locals: as far as the compiler knows,
    // each store of a one-byte code could change a column's address held in
    // memory, which would then be read again for every store.
    std::int32_t* const sire = ColumnStorage::by_row(pedigree_.sire);
    std::int32_t* const dam = ColumnStorage::by_row(pedigree_.dam);
    std::int32_t* const born = ColumnStorage::by_row(pedigree_.born);
    std::int8_t* const sex = ColumnStorage::by_row(pedigree_.sex);
    std::int8_t* const allele1 = ColumnStorage::by_row(marker_.true_first);
    std::int8_t* const allele2 = ColumnStorage::by_row(marker_.true_second);
    const std::int32_t* const dams = ColumnStorage::by_row(parents_.dams);
    const PlannedMating* const matings = scratch_.matings.data();
    const double male_probability = male_probability_;
    const std::int32_t first_child = pedigree_.created() + 1;
    for (std::int32_t t = first; t < last; ++t) {
      const PlannedMating& m = matings[t];
      const std::int32_t child = first_child + t;
      if (m.sire_code >= 0) {
        const TransmissionRule& rule = transmission_rule(m.sire_code, m.dam_code);
        const int q = rule.draws ? quarter_of(draw()) : 0;
        allele1[child] = rule.first[q];
        allele2[child] = rule.second[q];
      }
      sex[child] = static_cast<std::int8_t>(draw() > male_probability ? kFemale : kMale);
      sire[child] = m.sire;
      dam[child] = dams[t + 1];
      born[child] = g_;
    }
  }

 private:
  // Plans mating t in sire block s; true when its transmission draws.
  bool plan_mating(std::int32_t s, std::int32_t t) {
    const std::int32_t dam = parents_.dams[t + 1];
    const std::int32_t sire = parents_.sires[sire_position(pedigree_, parents_, s, dam)];
    // The matings are settled before any offspring exists, which holds as
    // long as every parent was created before the generation began.
    if (dam > pedigree_.created() || sire > pedigree_.created()) {
      throw std::logic_error("a parent of this generation is not yet created");
    }
    int sire_code = genotype_code({marker_.true_first[sire], marker_.true_second[sire]});
    int dam_code = genotype_code({marker_.true_first[dam], marker_.true_second[dam]});
    if (sire_code < 0 || dam_code < 0) sire_code = dam_code = -1;
    scratch_.matings[static_cast<std::size_t>(t)] = {sire, static_cast<std::int16_t>(sire_code),
                                                     static_cast<std::int16_t>(dam_code)};
    return sire_code >= 0 && transmission_rule(sire_code, dam_code).draws;
  }

  void prefetch_dam(std::int32_t animal) const {
    ColumnStorage::prefetch(pedigree_.sire, animal);
    ColumnStorage::prefetch(marker_.true_first, animal);
    ColumnStorage::prefetch(marker_.true_second, animal);
  }
  void prefetch_sire(std::int32_t animal) const {
    ColumnStorage::prefetch(pedigree_.dam, animal);
    ColumnStorage::prefetch(marker_.true_first, animal);
    ColumnStorage::prefetch(marker_.true_second, animal);
  }

  const Parameters& parameters_;
  double male_probability_;
  Pedigree& pedigree_;
  MarkerColumns& marker_;
  const ParentLists& parents_;
  MatingScratch& scratch_;
  std::int32_t g_;
};

}  // namespace

std::int32_t mate_generation(const Parameters& parameters, const Model& model, Pedigree& pedigree,
                             GenotypeStore& genotypes, const ParentLists& parents,
                             UniformStream& stream, MatingScratch& scratch, std::int32_t g,
                             HelperThread& helper) {
  // Every mating creates the next row; the matings end early when the table
  // is full.
  const std::int64_t room = std::int64_t{pedigree.rows()} - pedigree.created();
  const auto matings = static_cast<std::int32_t>(
      std::clamp<std::int64_t>(std::int64_t{parameters.males} * parameters.dams_per_sire, 0,
                               std::max<std::int64_t>(room, 0)));
  scratch.matings.resize(static_cast<std::size_t>(matings));
  Generation generation(parameters, model, pedigree, genotypes.marker(0), parents, scratch, g);
  if (matings < kMatingsInHalves) {
    const std::uint64_t draws = generation.plan(0, matings);
    generation.breed(stream, scratch.draws[0], 0, matings, draws);
  } else {
    // Each mating draws its sex and, unless both parents are homozygous, a
    // transmission number: once the first half is planned, the second half's
    // first number is known.
    const std::int32_t half = matings / 2;
    std::uint64_t first_draws = 0;
    std::uint64_t second_draws = 0;
    helper.side_by_side([&] { first_draws = generation.plan(0, half); },
                        [&] { second_draws = generation.plan(half, matings); });
    helper.halves_side_by_side(
        stream, static_cast<std::uint64_t>(half) + first_draws,
        [&](UniformStream& s) { generation.breed(s, scratch.draws[0], 0, half, first_draws); },
        [&](UniformStream& s) {
          generation.breed(s, scratch.draws[1], half, matings, second_draws);
        });
  }
  pedigree.add_created(matings);
  return matings;
}

}  // namespace pedsim
