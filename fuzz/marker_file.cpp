// Fuzz target: any bytes given as a marker file either make a map that keeps
// the file's promises (names without blanks, chromosomes in runs, positions
// not decreasing along each, frequencies summing to 1) or stop with status 2,
// without a crash or a sanitizer report. The first byte picks the alleles.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "input/marker_file.hpp"

namespace {

void check(const pedsim::MarkerMap& map) {
  const auto markers = static_cast<std::size_t>(map.size());
  if (markers == 0 || map.chromosome.size() != markers || map.position_cm.size() != markers ||
      map.frequencies.size() != markers) {
    std::abort();
  }
  for (std::size_t m = 0; m < markers; ++m) {
    if (map.names[m].empty() || map.names[m].find_first_of(" \t") != std::string::npos) std::abort();
    if (m > 0 && map.chromosome[m] == map.chromosome[m - 1] &&
        map.position_cm[m] < map.position_cm[m - 1]) {
      std::abort();
    }
    if (m > 0 && map.chromosome[m] != map.chromosome[m - 1] &&
        map.chromosome[m] != map.chromosome[m - 1] + 1) {
      std::abort();
    }
    const auto& f = map.frequencies[m];
    if (f.empty()) continue;
    double sum = 0;
    for (const double x : f) sum += x;
    if (static_cast<std::int32_t>(f.size()) != map.alleles || std::abs(sum - 1) > 1e-6) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::int32_t alleles = 2 + data[0] % 254;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    check(pedsim::parse_marker_file(text, "fuzz.tsv", alleles));
  } catch (const pedsim::Stop& stop) {
    if (stop.status() != 2) std::abort();
  }
  return 0;
}
