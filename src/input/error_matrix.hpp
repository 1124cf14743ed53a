#pragma once

#include <string>
#include <string_view>

#include "pedsim/simulation.hpp"

namespace pedsim {

// Reads an error matrix: three rows of three tab-separated probabilities,
// P(recorded | true) over 0, 1 and 2 copies of the second allele, each row
// summing to 1 within 1e-6; lines starting with '#' and empty lines are
// skipped. Anything else stops with status 2 naming the file, the line and
// the column.
ErrorMatrix read_error_matrix(const std::string& path);
ErrorMatrix parse_error_matrix(std::string_view text, std::string_view path);

}  // namespace pedsim
