#include "io/pedigree_truth.hpp"

#include "io/buffered_writer.hpp"
#include "io/genotype_view.hpp"

namespace pedsim {

namespace {

// "wrong-sire", "missing-sire" or "" for one parent.
std::string_view kind_of(std::int32_t truth, std::int32_t recorded, bool sire) {
  if (recorded == truth) return "";
  if (recorded == 0) return sire ? "missing-sire" : "missing-dam";
  return sire ? "wrong-sire" : "wrong-dam";
}

// Markers at which `parent` and `animal`, both genotyped, share no allele.
std::int64_t exclusions(const Panel& panel, std::int32_t animal, std::int32_t parent) {
  std::int64_t count = 0;
  for (std::int32_t m = 0; m < panel.markers(); ++m) {
    const std::int32_t a1 = panel.recorded_allele(animal, m, 0);
    const std::int32_t a2 = panel.recorded_allele(animal, m, 1);
    const std::int32_t p1 = panel.recorded_allele(parent, m, 0);
    const std::int32_t p2 = panel.recorded_allele(parent, m, 1);
    if (a1 == 0 || a2 == 0 || p1 == 0 || p2 == 0) continue;
    count += a1 != p1 && a1 != p2 && a2 != p1 && a2 != p2;
  }
  return count;
}

}  // namespace

void write_pedigree_truth(const Simulation& run, ByteSink& sink) {
  const GenotypeView view(run, Genotypes::kRecorded);
  BufferedWriter out(sink);
  out.write("animal\ttrue_sire\ttrue_dam\trecorded_sire\trecorded_dam\tkind\texclusions\n");
  for (const PedigreeChange& c : run.pedigree_changes) {
    std::string kind(kind_of(c.true_sire, c.recorded_sire, true));
    const std::string_view dam_kind = kind_of(c.true_dam, c.recorded_dam, false);
    if (!dam_kind.empty()) kind.append(kind.empty() ? "" : ",").append(dam_kind);
    std::int64_t excluded = 0;
    for (const auto& [truth, recorded] :
         {std::pair{c.true_sire, c.recorded_sire}, std::pair{c.true_dam, c.recorded_dam}}) {
      if (recorded != truth && recorded != 0) excluded += exclusions(run.panel, c.animal, recorded);
    }
    for (const std::int32_t animal :
         {c.animal, c.true_sire, c.true_dam, c.recorded_sire, c.recorded_dam}) {
      out.write(view.animal_name(animal));
      out.write("\t");
    }
    out.write(kind);
    out.write("\t");
    out.write(std::to_string(excluded));
    out.write("\n");
  }
}

}  // namespace pedsim
