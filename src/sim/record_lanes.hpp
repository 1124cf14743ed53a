#pragma once

#include <cstdint>

namespace pedsim {

// Which of the missing-data and error layers' streams each of their draws
// takes: an animal's on its own row, the layer's own (a marker's rate, the
// choice of ungenotyped parents, exact error places) on row 0.
enum class RecordDraw : std::uint32_t {
  kDesignErrors = 0,   // the design's rule: a 32-bit number per candidate and marker
  kCells = 1,          // the gaps between an animal's missing genotypes, or its errors
  kCellDraws = 6,      // two numbers per such event
  kAnimalRate = 2,     // an animal's call rate
  kExactErrors = 3,    // an animal's errors placed by an exact count
  kParents = 4,        // row 0: the parents left ungenotyped
  kExactPlaces = 5,    // row 0: where an exact count of errors goes
  kMarkerRate = 1024,  // row 0: marker m's rate on lane 1024 + m
};

inline std::uint32_t record_lane(RecordDraw draw, std::int32_t marker = 0) {
  return static_cast<std::uint32_t>(draw) + static_cast<std::uint32_t>(marker);
}

}  // namespace pedsim
