#include "reports/pedigree_truth.hpp"

#include <bit>
#include <tuple>

#include "analysis/recorded_words.hpp"
#include "formats/genotype_view.hpp"
#include "io/buffered_writer.hpp"

namespace pedsim {

namespace {

// "wrong-sire", "missing-sire" or "" for one parent.
std::string_view kind_of(std::int32_t truth, std::int32_t recorded, bool sire) {
  if (recorded == truth) return "";
  if (recorded == 0) return sire ? "missing-sire" : "missing-dam";
  return sire ? "wrong-sire" : "wrong-dam";
}

// The recorded genotypes of an animal and a parent, for counting the
// markers at which they share no allele (both called).
class Exclusions {
 public:
  explicit Exclusions(const Panel& panel)
      : panel_(panel),
        animal_(2 * static_cast<std::size_t>(panel.markers())),
        parent_(animal_.size()) {}

  std::int64_t count(std::int32_t animal, std::int32_t parent, bool sire) {
    if (animal_words_.read(panel_, animal) && parent_words_.read(panel_, parent)) {
      std::int64_t count = 0;
      for (std::size_t w = 0; w < panel_.words(); ++w) {
        count += std::popcount(
            exclusions(animal_words_, parent_words_, w, panel_.passed_bits(animal, sire, w)));
      }
      return count;
    }
    panel_.recorded_alleles(animal, 0, panel_.markers(), animal_.data(), 2);
    panel_.recorded_alleles(parent, 0, panel_.markers(), parent_.data(), 2);
    std::int64_t count = 0;
    for (std::size_t k = 0; k < animal_.size(); k += 2) {
      const std::uint16_t a1 = animal_[k], a2 = animal_[k + 1];
      const std::uint16_t p1 = parent_[k], p2 = parent_[k + 1];
      if (a1 == 0 || p1 == 0 || !panel_.passes(animal, sire, static_cast<std::int32_t>(k / 2))) {
        continue;
      }
      count += a1 != p1 && a1 != p2 && a2 != p1 && a2 != p2;
    }
    return count;
  }

 private:
  const Panel& panel_;
  RecordedWords animal_words_;
  RecordedWords parent_words_;
  std::vector<std::uint16_t> animal_;
  std::vector<std::uint16_t> parent_;
};

}  // namespace

void write_pedigree_truth(const Simulation& run, ByteSink& sink) {
  const GenotypeView view(run, Genotypes::kRecorded);
  const bool swaps = run.records.swap > 0;
  Exclusions exclusions(run.panel);
  BufferedWriter out(sink);
  out.write("animal\ttrue_sire\ttrue_dam\trecorded_sire\trecorded_dam\tkind\texclusions");
  out.write(swaps ? "\tswapped_with\n" : "\n");
  for (const PedigreeChange& c : run.pedigree_changes) {
    const bool swapped = c.sample != c.animal;
    std::string kind;
    for (const std::string_view part :
         {kind_of(c.true_sire, c.recorded_sire, true), kind_of(c.true_dam, c.recorded_dam, false),
          std::string_view(swapped ? "swap" : "")}) {
      if (!part.empty()) kind.append(kind.empty() ? "" : ",").append(part);
    }
    std::int64_t excluded = 0;
    for (const auto& [truth, recorded, sire] : {std::tuple{c.true_sire, c.recorded_sire, true},
                                                std::tuple{c.true_dam, c.recorded_dam, false}}) {
      if ((recorded != truth || swapped) && recorded != 0) {
        excluded += exclusions.count(c.animal, recorded, sire);
      }
    }
    for (const std::int32_t animal :
         {c.animal, c.true_sire, c.true_dam, c.recorded_sire, c.recorded_dam}) {
      out.write(view.animal_name(animal));
      out.write("\t");
    }
    out.write(kind);
    out.write("\t");
    out.write(std::to_string(excluded));
    if (swaps) {
      out.write("\t");
      out.write(view.animal_name(swapped ? c.sample : 0));
    }
    out.write("\n");
  }
}

}  // namespace pedsim
