#include "formats/plink_text.hpp"

#include <algorithm>
#include <array>
#include <charconv>

#include "formats/format_files.hpp"
#include "io/buffered_writer.hpp"

namespace pedsim {

namespace {

char* put(char* at, std::string_view text) { return std::copy(text.begin(), text.end(), at); }

char* put_number(char* at, std::int64_t value) { return std::to_chars(at, at + 24, value).ptr; }

}  // namespace

void write_ped(const Simulation& run, Genotypes genotypes, ByteSink& sink) {
  const GenotypeView view(run, genotypes);
  const Pedigree& p = run.pedigree;
  BufferedWriter out(sink);
  const std::size_t widest = view.label(view.allele_limit()).size() + 1;
  const std::size_t row_bytes =
      32 + 3 * (kMaxNameBytes + 1) + 2 * widest * static_cast<std::size_t>(view.markers());
  for (std::int32_t i = 1; i <= view.animals(); ++i) {
    char* const start = out.reserve(row_bytes);
    char* at = put(start, kFamilyId);
    for (const std::int32_t animal : {i, p.sire[i], p.dam[i]}) {
      *at++ = ' ';
      at = put(at, view.animal_name(animal));
    }
    *at++ = ' ';
    at = put_number(at, p.sex[i]);
    at = put(at, " -9");
    for (std::int32_t m = 0; m < view.markers(); ++m) {
      for (int side = 0; side < 2; ++side) {
        *at++ = ' ';
        at = put(at, view.label(view.allele(i, m, side)));
      }
    }
    *at++ = '\n';
    out.commit(static_cast<std::size_t>(at - start));
  }
}

void write_map(const Simulation& run, Genotypes genotypes, ByteSink& sink) {
  const GenotypeView view(run, genotypes);
  BufferedWriter out(sink);
  std::array<char, 32> cm{};
  for (std::int32_t m = 0; m < view.markers(); ++m) {
    const char* cm_end = std::to_chars(cm.data(), cm.data() + cm.size(), view.position_cm(m)).ptr;
    out.write(view.chromosome(m));
    out.write("\t");
    out.write(view.name(m));
    out.write("\t");
    out.write({cm.data(), static_cast<std::size_t>(cm_end - cm.data())});
    out.write("\t");
    out.write(std::to_string(view.base_pair(m)));
    out.write("\n");
  }
}

namespace {

constexpr FormatFile kPlinkTextFileList[] = {
    {.recorded_name = "ped.ped",
     .true_name = "true.ped",
     .write = write_ped,
     .bytes_per_genotype = 4,
     .nanoseconds_per_genotype = 25},
    {.recorded_name = "ped.map", .true_name = "true.map", .write = write_map},
};

}  // namespace

extern const FormatFiles kPlinkTextFiles{.unit = 12, .files = kPlinkTextFileList};

}  // namespace pedsim
