#pragma once

#include <cstdint>

namespace pedsim {

// Which of a layer's streams each draw of the marker panel takes. An
// animal's numbers are on its own row, a purpose (and, for a linked
// meiosis, a chromosome) to a lane; the layer's own draws (each marker's
// frequencies) are on row 0, a lane per marker. Every number is thus had by
// position: a marker's or chromosome's draws never depend on how many others
// the panel has, nor on which thread draws them.
enum class PanelDraw : std::uint32_t {
  kFounderFirst = 0,   // a founder's first haplotype, a 32-bit number per marker
  kFounderSecond = 1,  // its second
  kFromSire = 2,       // the meiosis passing on the sire's alleles
  kFromDam = 3,        // the dam's
};

inline std::uint32_t panel_lane(PanelDraw draw, std::int32_t chromosome = -1) {
  return static_cast<std::uint32_t>(draw) | (static_cast<std::uint32_t>(chromosome + 1) << 2);
}

inline std::uint32_t frequency_lane(std::int32_t marker) {
  return static_cast<std::uint32_t>(marker);
}

}  // namespace pedsim
