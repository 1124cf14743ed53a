#include "formats/genotype_view.hpp"

#include <algorithm>
#include <cmath>

#include "io/buffered_writer.hpp"

namespace pedsim {

namespace {

constexpr std::string_view kBases = "ACGT";
const std::string kUnlinkedChromosome = "1";

// The design's marker when the run has no panel.
MarkerMap one_marker_map() {
  MarkerMap map;
  map.names = {"m1"};
  return map;
}

std::vector<std::string> allele_labels(std::int32_t limit) {
  std::size_t width = 1;
  while ((std::int64_t{1} << (2 * width)) < limit) ++width;
  std::vector<std::string> labels{"0"};
  for (std::int32_t a = 1; a <= limit; ++a) {
    std::string label(width, 'A');
    for (std::size_t d = 0, rest = static_cast<std::size_t>(a - 1); d < width; ++d, rest /= 4) {
      label[width - 1 - d] = kBases[rest % 4];
    }
    labels.push_back(std::move(label));
  }
  return labels;
}

std::int32_t limit_of(const Simulation& run, Genotypes genotypes) {
  const std::int32_t alleles = run.has_panel() ? run.panel.map().alleles : 3;
  const bool extra = genotypes == Genotypes::kRecorded && run.records.is_design_errors();
  return alleles + (extra ? 1 : 0);
}

}  // namespace

void write_ids(const Simulation& run, ByteSink& sink) {
  BufferedWriter out(sink);
  out.write("number\tname\n");
  const GenotypeView view(run, Genotypes::kTrue);
  for (std::int32_t i = 1; i <= view.animals(); ++i) {
    out.write(std::to_string(i));
    out.write("\t");
    out.write(view.animal_name(i));
    out.write("\n");
  }
}

GenotypeView::GenotypeView(const Simulation& run, Genotypes genotypes)
    : run_(run),
      genotypes_(genotypes),
      map_(run.has_panel() ? run.panel.map() : one_marker_map()),
      allele_limit_(limit_of(run, genotypes)),
      labels_(allele_labels(allele_limit_)) {}

const std::string& GenotypeView::chromosome(std::int32_t marker) const {
  if (!map_.linked()) return kUnlinkedChromosome;
  return map_.chromosome_names[static_cast<std::size_t>(
      map_.chromosome[static_cast<std::size_t>(marker)])];
}

double GenotypeView::position_cm(std::int32_t marker) const {
  return map_.linked() ? map_.position_cm[static_cast<std::size_t>(marker)] : 0.0;
}

std::int64_t GenotypeView::base_pair(std::int32_t marker) const {
  if (!map_.linked()) return std::int64_t{marker} + 1;
  return std::llround(position_cm(marker) * 1e6) + 1;
}

std::int32_t GenotypeView::allele(std::int32_t animal, std::int32_t marker, int side) const {
  const bool recorded = genotypes_ == Genotypes::kRecorded;
  if (run_.has_panel()) {
    return recorded ? run_.panel.recorded_allele(animal, marker, side)
                    : run_.panel.true_allele(animal, marker, side);
  }
  const MarkerColumns& c = run_.genotypes.marker(0);
  if (recorded) return side == 0 ? c.recorded_first[animal] : c.recorded_second[animal];
  return side == 0 ? c.true_first[animal] : c.true_second[animal];
}

void GenotypeView::alleles_of_animal(std::int32_t animal, std::int32_t first, std::int32_t count,
                                     std::uint16_t* out, std::size_t stride) const {
  if (run_.has_panel()) {
    if (genotypes_ == Genotypes::kRecorded) {
      run_.panel.recorded_alleles(animal, first, count, out, stride);
    } else {
      run_.panel.true_alleles(animal, first, count, out, stride);
    }
    return;
  }
  for (std::int32_t k = 0; k < count; ++k) {
    for (int side = 0; side < 2; ++side) {
      out[std::size_t(k) * stride + side] =
          static_cast<std::uint16_t>(allele(animal, first + k, side));
    }
  }
}

bool GenotypeView::has_codes(std::int32_t first, std::int32_t count) const {
  if (!run_.has_panel() || run_.panel.bits() != 1 || allele_limit_ != 2) return false;
  for (const MarkerRange* range :
       {&run_.panel.x_markers(), &run_.panel.y_markers(), &run_.panel.mt_markers()}) {
    if (range->first < first + count && range->end > first) return false;
  }
  return true;
}

void GenotypeView::codes_of_animal(std::int32_t animal, std::size_t word,
                                   std::uint8_t* codes) const {
  run_.panel.genotype_codes(animal, word, genotypes_ == Genotypes::kRecorded, codes);
}

void GenotypeView::alleles_of_markers(std::int32_t first, std::int32_t count,
                                      std::vector<std::uint16_t>& out) const {
  const auto n = static_cast<std::size_t>(animals());
  out.resize(static_cast<std::size_t>(count) * n * 2);
  for (std::int32_t i = 1; i <= animals(); ++i) {
    alleles_of_animal(i, first, count, out.data() + 2 * std::size_t(i - 1), 2 * n);
  }
}

}  // namespace pedsim
