#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pedsim/simulation.hpp"

namespace pedsim {

// Reads a marker file: tab-separated, a header row of `marker`,
// `chromosome`, `position_cm` and optionally `freq_1` ... `freq_J` (J at
// most `alleles`), then one row per marker in map order. Chromosomes are
// positive integers or X, Y, XY, MT, each in one run of rows, positions in
// centimorgans not decreasing along it; frequencies, when given, lie in
// [0, 1] and sum to 1 within 1e-6 (alleles past J have none). Markers
// without frequency columns are left without frequencies. Anything else
// stops with status 2 naming the file, the line and the column.
MarkerMap read_marker_file(const std::string& path, std::int32_t alleles);

// The same, from the file's text.
MarkerMap parse_marker_file(std::string_view text, std::string_view path, std::int32_t alleles);

}  // namespace pedsim
