#include "output/reports.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "output/output_pass.hpp"

namespace pedsim {

namespace {

Genotype recorded(const Run& run, std::int32_t animal) {
  if (animal == 0) return {};
  return {run.GE1[animal], run.GE2[animal]};
}

bool carries(Genotype g, std::int32_t allele) { return g.first == allele || g.second == allele; }
bool is_genotyped(Genotype g) { return g.first != 0; }

void write_fields(OutputFile& file, std::initializer_list<std::int32_t> values) {
  char* out = file.reserve(values.size() * kMaxFieldWidth + 1);
  char* p = out;
  for (const std::int32_t v : values) p += format_file_field(p, v);
  *p++ = '\n';
  file.commit(static_cast<std::size_t>(p - out));
}

template <class... Args>
std::string format(const char* layout, Args... args) {
  std::array<char, 256> line;
  const int length = std::snprintf(line.data(), line.size(), layout, args...);
  return std::string(line.data(), static_cast<std::size_t>(std::clamp(length, 0, 255)));
}

struct GenerationCounts {
  std::int64_t animals = 0, males = 0, females = 0, kept = 0, lost = 0;
};

}  // namespace

bool is_altered(const Run& run, std::int32_t i) {
  return run.IV1[i] != 0 && run.VC[i] == 0 && run.GE1[i] != run.IV51[i];
}

bool is_mendelian_consistent(Genotype child, Genotype sire, Genotype dam) {
  const bool s = is_genotyped(sire);
  const bool d = is_genotyped(dam);
  if (s && d) {
    return (carries(sire, child.first) && carries(dam, child.second)) ||
           (carries(sire, child.second) && carries(dam, child.first));
  }
  if (s) return carries(sire, child.first) || carries(sire, child.second);
  if (d) return carries(dam, child.first) || carries(dam, child.second);
  return true;
}

InconsistencyCount count_inconsistencies(const Run& run) {
  InconsistencyCount count;
  for (std::int32_t i = 1; i <= run.ntot; ++i) {
    const Genotype child = recorded(run, i);
    if (!is_genotyped(child)) continue;
    const Genotype sire = recorded(run, run.IV2[i]);
    const Genotype dam = recorded(run, run.IV3[i]);
    if (is_mendelian_consistent(child, sire, dam)) continue;
    const bool altered = is_altered(run, i) ||
                         (is_genotyped(sire) && is_altered(run, run.IV2[i])) ||
                         (is_genotyped(dam) && is_altered(run, run.IV3[i]));
    ++(altered ? count.involving_altered : count.not_involving_altered);
  }
  return count;
}

void write_truth_file(Run& run) {
  OutputFile& file = run.files.truth;
  file.write(
      "# animal sire dam sex generation true_allele1 true_allele2 lost recorded_allele1 "
      "recorded_allele2 altered\n");
  for (std::int32_t i = 1; i <= run.ntot; ++i) {
    write_fields(
        file, {run.IV1[i], run.IV2[i], run.IV3[i], run.IV4[i], run.IV7[i], run.IV51[i], run.IV52[i],
               run.VC[i], run.GE1[i], run.GE2[i], is_altered(run, i) ? 1 : 0});
  }
  file.close();
}

void write_summary_file(Run& run) {
  OutputFile& file = run.files.summary;
  file.write("# pedsim run summary\n");
  file.write(format("arguments: ngen=%d n=%d male=%d\n", run.ngen, run.n, run.male));
  file.write(format("seed: %d\n", run.seed));
  file.write("seed_origin: " + run.seed_origin + "\n");
  file.write(format("rows: %d\n", run.ntot));
  file.write(format("unfilled_rows: %d\n", run.ntot - run.lastanimal));

  std::vector<GenerationCounts> generations(static_cast<std::size_t>(run.ngen) + 1);
  for (std::int32_t i = 1; i <= run.lastanimal; ++i) {
    auto& g = generations[static_cast<std::size_t>(run.IV7[i])];
    ++g.animals;
    ++(run.IV4[i] == kMale ? g.males : g.females);
    ++(run.VC[i] == 1 ? g.lost : g.kept);
  }
  file.write("\n# generation animals males females kept lost lost_share loss_probability\n");
  for (std::size_t g = 0; g < generations.size(); ++g) {
    const auto& c = generations[g];
    const auto k = static_cast<double>(run.ngen) - static_cast<double>(g) + 1;
    const double probability = std::min(1.0, k * run.lossrate);
    const double share = c.animals == 0 ? 0.0 : static_cast<double>(c.lost) / c.animals;
    file.write(format("generation %zu %lld %lld %lld %lld %lld %.4f %.4f\n", g, c.animals, c.males,
                      c.females, c.kept, c.lost, share, probability));
  }

  std::array<std::array<std::int64_t, 4>, 4> founders{};
  for (std::int32_t i = 1; i <= run.n; ++i) ++founders[run.IV51[i]][run.IV52[i]];
  file.write("\n# founder_genotype count expected\n");
  for (std::int32_t a = 1; a <= 3; ++a) {
    for (std::int32_t b = a; b <= 3; ++b) {
      const double expected = run.n * (a == b ? 1.0 / 9 : 2.0 / 9);
      file.write(format("founder_genotype %d/%d %lld %.2f\n", a, b, founders[a][b], expected));
    }
  }

  std::int64_t candidates = 0;
  std::int64_t altered = 0;
  for (std::int32_t i = 1; i <= run.ntot; ++i) {
    if (is_error_candidate(run, i)) ++candidates;
    if (is_altered(run, i)) ++altered;
  }
  const InconsistencyCount inconsistent = count_inconsistencies(run);
  file.write("\n");
  file.write(format("error_candidates: %lld\n", candidates));
  file.write(format("altered_animals: %lld\n", altered));
  file.write(format("altered_share: %.4f (expected about 0.375)\n",
                    candidates == 0 ? 0.0 : static_cast<double>(altered) / candidates));
  file.write(format("mendelian_inconsistencies_involving_altered: %lld\n",
                    inconsistent.involving_altered));
  file.write(format("mendelian_inconsistencies_not_involving_altered: %lld\n",
                    inconsistent.not_involving_altered));
  file.close();
}

}  // namespace pedsim
