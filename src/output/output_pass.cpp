#include "output/output_pass.hpp"

namespace pedsim {

bool is_error_candidate(const Run& run, std::int32_t i) {
  return run.GE1[i] != 0 && run.IV2[i] != 0 && run.IV3[i] != 0 && run.GE1[run.IV2[i]] == 0 &&
         run.GE1[run.IV3[i]] == 0;
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

void prefetch_parents_record(Run& run, std::int32_t i) {
  if (run.IV2[i] != 0) __builtin_prefetch(&run.GE1[run.IV2[i]]);
  if (run.IV3[i] != 0) __builtin_prefetch(&run.GE1[run.IV3[i]]);
}

void inject_error(Run& run, std::int32_t i) {
  if (run.stream.draw_uniform() > 0.5) return;
  const std::int32_t old = run.GE1[i];
  run.GE1[i] = replacement_allele(run.stream.draw_uniform());
  if (run.GE1[i] == old) return;
  console_int(run.console, run.IV1[i]);
  write_error_record(run.files, run.IV1[i], old);
}

}  // namespace

void output_pass(Run& run) {
  console_label_int(run.console, "n\xB0 of founders=", run.n);
  console_label_int(run.console, "n\xB0 of animals=", run.ntot);
  for (std::int32_t i = 1; i <= run.ntot; ++i) {
    if (i + kPrefetchDistance <= run.ntot) prefetch_parents_record(run, i + kPrefetchDistance);
    if (is_error_candidate(run, i)) inject_error(run, i);
    write_ped_record(run.files, run.IV1[i], run.IV2[i], run.IV3[i], run.IV4[i], run.GE1[i],
                     run.GE2[i]);
  }
  close_output_files(run.files);
}

}  // namespace pedsim
