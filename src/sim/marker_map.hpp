#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "pedsim/simulation.hpp"

namespace pedsim {

// How each marker's allele frequencies are chosen.
struct FrequencyRule {
  enum class Kind { kEqual, kDirichlet, kMinorAllele } kind = Kind::kEqual;
  double concentration = 1;  // dirichlet:A
  double low = 0;            // maf:LOW-HIGH
  double high = 0.5;
};

// "equal", "dirichlet:A" (A > 0) or "maf:LOW-HIGH" (0 <= LOW <= HIGH <=
// 0.5); nothing for any other text.
std::optional<FrequencyRule> parse_frequency_rule(std::string_view text);

// `markers` markers named m1..mM, spread evenly over the chromosomes (or
// unlinked), without frequencies yet.
MarkerMap spread_markers(const MarkerOptions& options);

// Gives each marker without frequencies (none, or those of a marker file
// without frequency columns) its frequencies, drawn by the frequency rule
// from the marker layer's stream, each marker's from a stream of its own.
// With the design's marker model every marker takes the model's.
void choose_frequencies(MarkerMap& map, const MarkerOptions& options, const Model& model,
                        const Seed& seed);

// The part of a linked map on the chromosomes `list` names: names and
// ranges of numbered ones ("1-5,X"), in the map's order. Throws
// InvalidParameters for a list that names none or one the map lacks.
MarkerMap only_chromosomes(const MarkerMap& whole, std::string_view list);

}  // namespace pedsim
