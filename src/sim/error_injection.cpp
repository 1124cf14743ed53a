#include "sim/error_injection.hpp"

#include <algorithm>

#include "random/draw_blocks.hpp"
#include "sim/column_storage.hpp"

namespace pedsim {

bool is_error_candidate(const Pedigree& pedigree, const GenotypeStore& genotypes, std::int32_t i) {
  const CodeColumn& recorded = genotypes.marker(0).recorded_first;
  const std::int32_t sire = pedigree.sire[i];
  const std::int32_t dam = pedigree.dam[i];
  return recorded[i] != 0 && sire != 0 && dam != 0 && recorded[sire] == 0 && recorded[dam] == 0;
}

ReplacementAlleles::ReplacementAlleles(const std::vector<double>& shares) {
  double cumulative = 0;
  for (std::size_t k = 0; k + 1 < shares.size(); ++k) bounds_.push_back(cumulative += shares[k]);
}

std::int32_t ReplacementAlleles::operator()(double y) const {
  const std::size_t last = bounds_.size() - 1;
  for (std::size_t k = 0; k < last; ++k) {
    if (y <= bounds_[k]) return static_cast<std::int32_t>(k + 1);
  }
  return y < bounds_[last] ? static_cast<std::int32_t>(last + 1)
                           : static_cast<std::int32_t>(last + 2);
}

namespace {

// How many rows ahead the parents' recorded alleles are fetched into the
// cache: parents lie anywhere in the table.
constexpr std::int32_t kPrefetchDistance = 16;

// The observer hears of final rows this many at a time.
constexpr std::int32_t kRowsPerReport = 1 << 14;

void prefetch_parents_record(const Pedigree& pedigree, const CodeColumn& recorded, std::int32_t i) {
  if (pedigree.sire[i] != 0) ColumnStorage::prefetch(recorded, pedigree.sire[i]);
  if (pedigree.dam[i] != 0) ColumnStorage::prefetch(recorded, pedigree.dam[i]);
}

// Draws for candidate i; returns the alteration when its allele changed.
bool inject_error(const Pedigree& pedigree, const Model& model,
                  const ReplacementAlleles& replacement_allele, CodeColumn& recorded,
                  DrawnAhead& draws, std::int32_t i, AlteredAnimal& change) {
  if (draws.next_uniform() > model.error_probability) return false;
  const std::int32_t old = recorded[i];
  const std::int32_t replacement = replacement_allele(draws.next_uniform());
  recorded[i] = static_cast<std::int8_t>(replacement);
  if (replacement == old) return false;
  change = {pedigree.animal(i), old};
  return true;
}

}  // namespace

void inject_errors(const Model& model, const Pedigree& pedigree, GenotypeStore& genotypes,
                   UniformStream& stream, std::vector<AlteredAnimal>& altered,
                   InjectionObserver* observer) {
  const ReplacementAlleles replacement_allele(model.replacement_shares);
  CodeColumn& recorded = genotypes.marker(0).recorded_first;
  const std::int32_t rows = pedigree.rows();
  // A candidate takes one number or two; they are drawn ahead through the
  // stream's lanes.
  DrawnAhead draws(stream);
  for (std::int32_t first = 1; first <= rows; first += kRowsPerReport) {
    const std::int32_t last = std::min(rows, first + kRowsPerReport - 1);
    for (std::int32_t i = first; i <= last; ++i) {
      if (i + kPrefetchDistance <= rows) {
        prefetch_parents_record(pedigree, recorded, i + kPrefetchDistance);
      }
      AlteredAnimal change;
      if (!is_error_candidate(pedigree, genotypes, i) ||
          !inject_error(pedigree, model, replacement_allele, recorded, draws, i, change)) {
        continue;
      }
      altered.push_back(change);
      if (observer != nullptr) observer->altered(change);
    }
    if (observer != nullptr) observer->rows_final(last);
  }
  draws.finish();
}

}  // namespace pedsim
