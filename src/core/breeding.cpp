#include "core/breeding.hpp"

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

void prefetch_parent(Run& run, std::int32_t animal) {
  __builtin_prefetch(&run.IV2[animal]);
  __builtin_prefetch(&run.IV3[animal]);
  __builtin_prefetch(&run.IV51[animal]);
  __builtin_prefetch(&run.IV52[animal]);
}

}  // namespace

void mate_generation(Run& run, std::int32_t g) {
  std::int32_t l = 0;
  const std::int32_t matings = run.male * run.ratio;
  for (std::int32_t s = 1; s <= run.male; ++s) {
    if (s < run.male) prefetch_parent(run, run.IS[s + 1]);
    for (std::int32_t k = 1; k <= run.ratio; ++k) {
      ++l;
      if (l + kPrefetchDistance <= matings) prefetch_parent(run, run.ID[l + kPrefetchDistance]);
      const std::int32_t d = run.ID[l];
      const std::int32_t sire = run.IS[sire_position(run, s, d)];
      const std::int32_t i = run.lastanimal + 1;
      if (i > run.ntot) return;
      transmission(run, sire, d, i);
      run.IV4[i] = run.stream.draw_uniform() > 0.5 ? kFemale : kMale;
      run.IV1[i] = i;
      run.IV2[i] = sire;
      run.IV3[i] = d;
      run.IV7[i] = g;
      run.lastanimal = i;
    }
  }
}

void breed_generation(Run& run, std::int32_t g) {
  console_label_int(run.console, "generation ", g);
  mate_generation(run, g);
  parents(run);
}

void breed_generations(Run& run) {
  for (std::int32_t g = 1; g <= run.ngen; ++g) breed_generation(run, g);
}

}  // namespace pedsim
