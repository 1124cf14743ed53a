#pragma once

#include <cstdint>
#include <string>

#include "pedsim/formats.hpp"
#include "pedsim/markers.hpp"
#include "pedsim/records.hpp"

namespace pedsim {

// About what a run will need before it starts.
struct RunNeeds {
  double memory_bytes = 0;
  double disk_bytes = 0;
  double seconds = 0;
};

// The bytes a panel of `animals` animals takes: each haplotype's alleles (a
// bit each for two alleles, else a byte), the missing genotypes' bits, and
// the map (a name, a place and the frequencies per marker). 0 for a run
// without one, and for a marker file, whose rows are not counted yet.
double panel_bytes(std::int64_t animals, const MarkerOptions& markers,
                   const RecordOptions& records);

// A run of `animals` animals writing `formats` (and the true genotypes in
// them too, when asked).
RunNeeds needs_of(std::int64_t animals, const MarkerOptions& markers, const RecordOptions& records,
                  const Formats& formats, bool true_genotypes);

// "pedsim: this run will need about 3.2 GB of memory, 12 GB of disk and
// 2 min\n" when it needs more than a few seconds, or a quarter of the
// memory or of `free_disk_bytes`; else "".
std::string needs_line(const RunNeeds& needs, double memory_bytes, double free_disk_bytes);

}  // namespace pedsim
