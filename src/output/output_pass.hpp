#pragma once

#include <cstdint>

#include "core/run.hpp"

namespace pedsim {

// Whether row i may receive a genotyping error: it is genotyped, both parents
// are known, and neither parent is genotyped (tested in that order).
bool is_error_candidate(const Run& run, std::int32_t i);

// The wrong first allele for a second draw y: 1, 2, 3 or 4 by quarters; only
// the last boundary sends an equal draw up (0.75 gives 4).
std::int32_t replacement_allele(double y);

// The output pass: the two count lines, then every row in order, each
// candidate possibly receiving a wrong recorded first allele (reported on the
// console and in "ped.errors" when it changed), each row written to "ped.pre";
// then both files are closed.
void output_pass(Run& run);

}  // namespace pedsim
