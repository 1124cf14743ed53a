#include "sim/error_injection.hpp"

#include <algorithm>

#include "random/draw_blocks.hpp"

namespace pedsim {

bool is_error_candidate(const Pedigree& pedigree, std::int32_t i) {
  const std::int32_t sire = pedigree.sire[i];
  const std::int32_t dam = pedigree.dam[i];
  return pedigree.recorded_allele1[i] != 0 && sire != 0 && dam != 0 &&
         pedigree.recorded_allele1[sire] == 0 && pedigree.recorded_allele1[dam] == 0;
}

std::int32_t replacement_allele(double y) {
  if (y <= 0.25) return 1;
  if (y <= 0.5) return 2;
  if (y < 0.75) return 3;
  return 4;
}

namespace {

// How many rows ahead the parents' recorded alleles are fetched into the
// cache: parents lie anywhere in the table.
constexpr std::int32_t kPrefetchDistance = 16;

// The observer hears of final rows this many at a time.
constexpr std::int32_t kRowsPerReport = 1 << 14;

void prefetch_parents_record(const Pedigree& pedigree, std::int32_t i) {
  if (pedigree.sire[i] != 0) pedigree.recorded_allele1.prefetch(pedigree.sire[i]);
  if (pedigree.dam[i] != 0) pedigree.recorded_allele1.prefetch(pedigree.dam[i]);
}

// Draws for candidate i; returns the alteration when its allele changed.
bool inject_error(Pedigree& pedigree, DrawnAhead& draws, std::int32_t i, AlteredAnimal& change) {
  if (draws.next_uniform() > 0.5) return false;
  const std::int32_t old = pedigree.recorded_allele1[i];
  const std::int32_t replacement = replacement_allele(draws.next_uniform());
  pedigree.recorded_allele1[i] = static_cast<std::int8_t>(replacement);
  if (replacement == old) return false;
  change = {pedigree.animal(i), old};
  return true;
}

}  // namespace

void inject_errors(Pedigree& pedigree, UniformStream& stream, std::vector<AlteredAnimal>& altered,
                   InjectionObserver* observer) {
  const std::int32_t rows = pedigree.rows();
  // A candidate takes one number or two; they are drawn ahead through the
  // stream's lanes.
  DrawnAhead draws(stream);
  for (std::int32_t first = 1; first <= rows; first += kRowsPerReport) {
    const std::int32_t last = std::min(rows, first + kRowsPerReport - 1);
    for (std::int32_t i = first; i <= last; ++i) {
      if (i + kPrefetchDistance <= rows) prefetch_parents_record(pedigree, i + kPrefetchDistance);
      AlteredAnimal change;
      if (!is_error_candidate(pedigree, i) || !inject_error(pedigree, draws, i, change)) continue;
      altered.push_back(change);
      if (observer != nullptr) observer->altered(change);
    }
    if (observer != nullptr) observer->rows_final(last);
  }
  draws.finish();
}

}  // namespace pedsim
