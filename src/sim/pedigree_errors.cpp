#include "sim/pedigree_errors.hpp"

#include <algorithm>
#include <map>

#include "random/layer_stream.hpp"

namespace pedsim {

namespace {

// The animals that may stand in for a parent: per sex, in row order, and
// per sex and generation.
class StandIns {
 public:
  explicit StandIns(const Pedigree& pedigree) {
    for (std::int32_t i = 1; i <= pedigree.created(); ++i) {
      const int sex = pedigree.sex[i];
      if (sex != kMale && sex != kFemale) continue;
      rows_[sex - 1].push_back(i);
      by_generation_[sex - 1][pedigree.born[i]].push_back(i);
    }
  }

  // The candidates for a wrong parent of `animal` in place of `parent`:
  // its generation's animals of the parent's sex, or (any) those of that
  // sex listed before the animal.
  std::span<const std::int32_t> of(const Pedigree& pedigree, std::int32_t animal,
                                   std::int32_t parent, bool any) const {
    const auto sex = static_cast<std::size_t>(pedigree.sex[parent] - 1);
    if (any) {
      const std::vector<std::int32_t>& rows = rows_[sex];
      return {rows.data(), static_cast<std::size_t>(
                               std::lower_bound(rows.begin(), rows.end(), animal) - rows.begin())};
    }
    return by_generation_[sex].at(pedigree.born[parent]);
  }

 private:
  std::array<std::vector<std::int32_t>, 2> rows_;
  std::array<std::map<std::int32_t, std::vector<std::int32_t>>, 2> by_generation_;
};

// Another of `candidates` than `parent`, evenly; 0 when there is none.
std::int32_t another(std::span<const std::int32_t> candidates, std::int32_t parent, double u) {
  const bool among = std::binary_search(candidates.begin(), candidates.end(), parent);
  const std::size_t count = candidates.size() - (among ? 1 : 0);
  if (count == 0) return 0;
  const auto k = std::min(count - 1, static_cast<std::size_t>(u * static_cast<double>(count)));
  const auto skip = static_cast<std::size_t>(
      std::lower_bound(candidates.begin(), candidates.end(), parent) - candidates.begin());
  return candidates[among && k >= skip ? k + 1 : k];
}

}  // namespace

std::vector<PedigreeChange> record_pedigree_errors(Pedigree& pedigree, const RecordOptions& options,
                                                   const Seed& seed) {
  const StandIns stand_ins(pedigree);
  const bool any = options.wrong_parent_from == "any";
  std::vector<PedigreeChange> changes;
  for (std::int32_t i = 1; i <= pedigree.created(); ++i) {
    PedigreeChange change{i, pedigree.sire[i], pedigree.dam[i], pedigree.sire[i], pedigree.dam[i],
                          i};
    for (int side = 0; side < 2; ++side) {
      const std::int32_t parent = side == 0 ? change.true_sire : change.true_dam;
      if (parent == 0) continue;
      const double missing = side == 0 ? options.missing_sire : options.missing_dam;
      const double wrong = side == 0 ? options.wrong_sire : options.wrong_dam;
      LayerStream stream(seed.value, seed.replicate, Layer::kPedigreeErrors,
                         static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(side));
      const double u = stream.next_uniform();
      std::int32_t recorded = parent;
      if (u < missing) {
        recorded = 0;
      } else if (u < missing + wrong) {
        recorded = another(stand_ins.of(pedigree, i, parent, any), parent, stream.next_uniform());
        if (recorded == 0) recorded = parent;
      }
      (side == 0 ? change.recorded_sire : change.recorded_dam) = recorded;
    }
    if (change.recorded_sire != change.true_sire || change.recorded_dam != change.true_dam) {
      changes.push_back(change);
    }
  }
  for (const PedigreeChange& change : changes) {
    pedigree.sire[change.animal] = change.recorded_sire;
    pedigree.dam[change.animal] = change.recorded_dam;
  }
  return changes;
}

}  // namespace pedsim
