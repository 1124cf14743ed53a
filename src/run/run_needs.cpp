#include "run/run_needs.hpp"

#include <cmath>
#include <cstdio>

#include "formats/format_files.hpp"
#include "text/text.hpp"

namespace pedsim {

namespace {

// Genotypes bred and recorded per second (bench/, 2 cores); an estimate,
// not a promise.
constexpr double kGenotypesBredPerSecond = 1e9;
// A run that needs less than this is not worth a line.
constexpr double kQuickSeconds = 5;

double genotypes_of(std::int64_t animals, const MarkerOptions& markers) {
  const double count = markers.marker_file ? 0 : markers.markers;
  return static_cast<double>(animals) * count;
}

std::string size_text(double bytes) {
  char text[32];
  if (bytes < 1e9) {
    std::snprintf(text, sizeof text, "%.0f MB", std::ceil(bytes / 1e6));
  } else {
    std::snprintf(text, sizeof text, "%.1f GB", bytes / 1e9);
  }
  return text;
}

}  // namespace

double panel_bytes(std::int64_t animals, const MarkerOptions& markers,
                   const RecordOptions& records) {
  if (markers.is_design() && records.is_design()) return 0;
  const double count = markers.marker_file ? 0 : markers.markers;
  const double bits = markers.alleles == 2 ? 1 : 8;
  const double rows = static_cast<double>(animals) + 1;
  return rows * count * (2 * bits + 1) / 8 + count * (96 + 8.0 * markers.alleles);
}

RunNeeds needs_of(std::int64_t animals, const MarkerOptions& markers, const RecordOptions& records,
                  const Formats& formats, bool true_genotypes) {
  RunNeeds needs;
  needs.memory_bytes = panel_bytes(animals, markers, records);
  const double genotypes = genotypes_of(animals, markers);
  const double copies = true_genotypes ? 2 : 1;
  needs.seconds = genotypes / kGenotypesBredPerSecond;
  for (const GenotypeFormat& format : genotype_formats()) {
    if (!formats.has(format)) continue;
    for (const FormatFile& file : format.files->files) {
      needs.disk_bytes += file.bytes_per_genotype * file.stored_share * genotypes * copies;
      needs.seconds += file.nanoseconds_per_genotype * 1e-9 * genotypes * copies;
    }
  }
  return needs;
}

std::string needs_line(const RunNeeds& needs, double memory_bytes, double free_disk_bytes) {
  if (needs.seconds < kQuickSeconds && needs.memory_bytes < memory_bytes / 4 &&
      needs.disk_bytes < free_disk_bytes / 4) {
    return {};
  }
  return "pedsim: this run will need about " + size_text(needs.memory_bytes) + " of memory, " +
         size_text(needs.disk_bytes) + " of disk and " + duration_text(needs.seconds) + "\n";
}

}  // namespace pedsim
