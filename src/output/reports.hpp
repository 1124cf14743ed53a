#pragma once

#include <cstdint>

#include "core/founders.hpp"
#include "core/run.hpp"

namespace pedsim {

// Whether error injection changed row i's recorded first allele: the record
// was kept, so it started as the true allele, and it no longer is.
bool is_altered(const Run& run, std::int32_t i);

// Whether a recorded genotype can come from the recorded genotypes of the
// parents that are genotyped (a parent that is not is passed as 0/0).
bool is_mendelian_consistent(Genotype child, Genotype sire, Genotype dam);

struct InconsistencyCount {
  std::int64_t involving_altered = 0;
  std::int64_t not_involving_altered = 0;
};

// Animals whose recorded genotype cannot come from the recorded genotypes of
// their genotyped parents, split by whether the animal or such a parent was
// altered. The second count is 0 in every run: transmission is Mendelian.
InconsistencyCount count_inconsistencies(const Run& run);

// Writes the truth file (unit 3): a header line, then per row the animal,
// sire, dam, sex, generation, true alleles, lost flag, recorded alleles and
// altered flag, in the layout of "ped.pre". Closes the file.
void write_truth_file(Run& run);

// Writes the run summary (unit 4) and closes it.
void write_summary_file(Run& run);

}  // namespace pedsim
