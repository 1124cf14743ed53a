// Fuzz target: any bytes given as a pedigree file either make a pedigree
// whose parents come before their offspring, one generation earlier at
// least, with names of at most 255 bytes, or stop with status 2, without a
// crash, a hang or a sanitizer report. The first byte picks the layout.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "pedsim/pedsim.hpp"

namespace {

void check(const pedsim::SuppliedPedigree& p) {
  const auto n = static_cast<std::size_t>(p.animals());
  if (p.sire.size() != n + 1 || p.dam.size() != n + 1 || p.sex.size() != n + 1 ||
      p.generation.size() != n + 1) {
    std::abort();
  }
  for (std::size_t a = 1; a <= n; ++a) {
    if (p.names[a].empty() || p.names[a].size() > pedsim::kMaxNameBytes) std::abort();
    for (const std::int32_t parent : {p.sire[a], p.dam[a]}) {
      if (parent == 0) continue;
      if (parent < 0 || static_cast<std::size_t>(parent) >= a ||
          p.generation[static_cast<std::size_t>(parent)] >= p.generation[a]) {
        std::abort();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks a format of the table, or none (by the file's name).
  const auto formats = pedsim::pedigree_formats();
  const std::size_t pick = data[0] % (formats.size() + 1);
  const pedsim::PedigreeFormat* format = pick < formats.size() ? &formats[pick] : nullptr;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    check(pedsim::parse_pedigree(text, "fuzz.txt", format));
  } catch (const pedsim::Stop& stop) {
    if (stop.status() != 2) std::abort();
  }
  return 0;
}
