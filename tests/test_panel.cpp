// Marker panels: inheritance, founders, linkage, and the rules that keep runs
// with and without a panel comparable.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "analysis/allele_tally.hpp"
#include "input/marker_file.hpp"
#include "pedsim/pedsim.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

constexpr std::int32_t kSeed = 74565;

Simulation run_with(const MarkerOptions& markers, std::int32_t generations = 4,
                    std::int32_t founders = 400, std::int32_t males = 40,
                    std::int32_t replicate = 0) {
  return simulate(Parameters::make(generations, founders, males), Seed{kSeed, "test", replicate},
                  {}, {}, markers);
}

MarkerOptions options(std::int32_t markers, std::int32_t alleles, std::string frequencies = "equal",
                      std::optional<std::int32_t> chromosomes = std::nullopt, double length = 100) {
  MarkerOptions o;
  o.markers = markers;
  o.alleles = alleles;
  o.frequencies = std::move(frequencies);
  o.chromosomes = chromosomes;
  o.chromosome_length = length;
  return o;
}

// The 0.9999 quantile of chi-square with `df` degrees of freedom (Wilson and
// Hilferty): a sound model exceeds it once in 10^4 runs.
double chi_square_limit(double df) {
  constexpr double kZ = 3.719;  // the standard normal's 0.9999 quantile
  const double c = 2.0 / (9 * df);
  return df * std::pow(1 - c + kZ * std::sqrt(c), 3);
}

bool carries(const Panel& p, std::int32_t animal, std::int32_t m, std::int32_t allele) {
  return p.true_allele(animal, m, 0) == allele || p.true_allele(animal, m, 1) == allele;
}

// Every offspring's first allele is one of its sire's and its second one
// of its dam's, at every marker; founders hold alleles 1..K.
TEST(Panel, EveryOffspringAlleleComesFromItsParent) {
  for (const MarkerOptions& o : {options(130, 2), options(70, 12, "dirichlet:0.5", 3, 150),
                                 options(20, 3), options(65, 255, "dirichlet:2", 2)}) {
    const Simulation run = run_with(o);
    const Panel& p = run.panel;
    ASSERT_EQ(p.markers(), o.markers);
    for (std::int32_t i = 1; i <= p.bred(); ++i) {
      const std::int32_t sire = run.pedigree.sire[i];
      const std::int32_t dam = run.pedigree.dam[i];
      for (std::int32_t m = 0; m < p.markers(); ++m) {
        if (sire == 0) {
          for (int side = 0; side < 2; ++side) {
            ASSERT_GE(p.true_allele(i, m, side), 1);
            ASSERT_LE(p.true_allele(i, m, side), o.alleles);
          }
          continue;
        }
        // The design's marker, when it is marker 1, keeps its own order.
        if (m == 0 && o.is_design_marker_model()) continue;
        ASSERT_TRUE(carries(p, sire, m, p.true_allele(i, m, 0))) << o.describe() << " " << i;
        ASSERT_TRUE(carries(p, dam, m, p.true_allele(i, m, 1))) << o.describe() << " " << i;
      }
    }
  }
}

// Founders' genotypes in Hardy-Weinberg proportions of each marker's
// frequencies: chi-square summed over the markers.
TEST(Panel, FoundersInHardyWeinbergProportions) {
  for (const MarkerOptions& o : {options(200, 2, "maf:0.1-0.5"), options(60, 4, "dirichlet:3"),
                                 options(60, 5, "equal", 4)}) {
    const Simulation run = run_with(o, 0, 3000, 1000);
    const Panel& p = run.panel;
    const auto k = static_cast<std::size_t>(o.alleles);
    double chi_square = 0;
    double df = 0;
    for (std::int32_t m = 0; m < p.markers(); ++m) {
      std::vector<double> counts(k * k);
      for (std::int32_t i = 1; i <= p.bred(); ++i) {
        const auto a =
            static_cast<std::size_t>(std::min(p.true_allele(i, m, 0), p.true_allele(i, m, 1)) - 1);
        const auto b =
            static_cast<std::size_t>(std::max(p.true_allele(i, m, 0), p.true_allele(i, m, 1)) - 1);
        counts[a * k + b] += 1;
      }
      const std::vector<double>& f = p.map().frequencies[static_cast<std::size_t>(m)];
      for (std::size_t a = 0; a < k; ++a) {
        for (std::size_t b = a; b < k; ++b) {
          const double expected = p.bred() * (a == b ? f[a] * f[a] : 2 * f[a] * f[b]);
          if (expected < 5) continue;
          chi_square += std::pow(counts[a * k + b] - expected, 2) / expected;
          df += 1;
        }
      }
      df -= 1;
    }
    EXPECT_LT(chi_square, chi_square_limit(df)) << o.describe();
  }
}

// Minor allele frequencies uniform in [LOW, HIGH], either allele minor
// evenly; Dirichlet frequencies with mean 1/K and variance
// (1/K)(1 - 1/K)/(K A + 1). Limits of 4 standard errors.
TEST(Panel, FrequencyRulesDrawTheirDistributions) {
  const std::int32_t n = 4000;
  const Simulation maf = run_with(options(n, 2, "maf:0.05-0.25"), 0, 20, 10);
  double sum = 0;
  double first_minor = 0;
  for (const auto& f : maf.panel.map().frequencies) {
    const double minor = std::min(f[0], f[1]);
    ASSERT_GE(minor, 0.05);
    ASSERT_LE(minor, 0.25);
    sum += minor;
    first_minor += f[0] < f[1] ? 1 : 0;
  }
  EXPECT_NEAR(sum / n, 0.15, 4 * 0.2 / std::sqrt(12.0 * n));
  EXPECT_NEAR(first_minor / n, 0.5, 4 * 0.5 / std::sqrt(n));

  const double a = 0.4;
  const int k = 5;
  const Simulation dirichlet = run_with(options(n, k, "dirichlet:0.4"), 0, 20, 10);
  double total = 0;
  double squares = 0;
  for (const auto& f : dirichlet.panel.map().frequencies) {
    double marker_sum = 0;
    for (const double x : f) marker_sum += x;
    ASSERT_NEAR(marker_sum, 1, 1e-12);
    total += f[0];
    squares += f[0] * f[0];
  }
  const double variance = (1.0 / k) * (1 - 1.0 / k) / (k * a + 1);
  EXPECT_NEAR(total / n, 1.0 / k, 4 * std::sqrt(variance / n));
  EXPECT_NEAR(squares / n - std::pow(total / n, 2), variance,
              4 * variance * std::sqrt(2.0 / n) * 2);
}

// Which of the parent's haplotypes a transmitted allele came from, where the
// parent is heterozygous: 0 or 1, or -1 when it cannot be told.
int origin(const Panel& p, std::int32_t child, int side, std::int32_t parent, std::int32_t m) {
  const std::int32_t first = p.true_allele(parent, m, 0);
  const std::int32_t second = p.true_allele(parent, m, 1);
  if (first == second) return -1;
  return p.true_allele(child, m, side) == first ? 0 : 1;
}

struct Linkage {
  MarkerOptions markers;
  double distance_cm;  // between neighbours on a chromosome; 0: unlinked
};

// The share of recombinant meioses between neighbouring markers against
// Haldane's r = (1 - e^(-2d)) / 2 (d in Morgans; 1/2 unlinked), counted on
// the phased truth where the parent is heterozygous at both.
TEST(Panel, RecombinationFollowsHaldanesMap) {
  for (const Linkage& c :
       {Linkage{options(4, 12, "equal", 1, 200), 50}, Linkage{options(40, 12, "equal", 2, 10), 0.5},
        Linkage{options(60, 12, "equal", 3, 200), 10}, Linkage{options(30, 12), 0},
        Linkage{options(200, 2), 0}}) {
    const Simulation run = run_with(c.markers, 3, 2000, 200);
    const Panel& p = run.panel;
    double informative = 0;
    double recombinant = 0;
    for (std::int32_t i = 1; i <= p.bred(); ++i) {
      for (int side = 0; side < 2; ++side) {
        const std::int32_t parent = side == 0 ? run.pedigree.sire[i] : run.pedigree.dam[i];
        if (parent == 0) continue;
        for (std::int32_t m = 0; m + 1 < p.markers(); ++m) {
          if (p.map().linked() && p.map().chromosome[m] != p.map().chromosome[m + 1]) continue;
          const int here = origin(p, i, side, parent, m);
          const int next = origin(p, i, side, parent, m + 1);
          if (here < 0 || next < 0) continue;
          informative += 1;
          recombinant += here != next ? 1 : 0;
        }
      }
    }
    const double r = c.distance_cm == 0 ? 0.5 : (1 - std::exp(-2 * c.distance_cm / 100)) / 2;
    EXPECT_NEAR(recombinant / informative, r, 4 * std::sqrt(r * (1 - r) / informative))
        << c.markers.describe() << " over " << informative << " meioses";
  }
}

// A run's pedigree and its lost records are those of the run without a
// panel; with the design's marker model, marker 1 is the design's marker,
// true and recorded, and ped.pre's first six columns are the design's.
TEST(Panel, PedigreeAndLossNeverDependOnTheMarkers) {
  const Simulation design = run_with({}, 5, 300, 30);
  for (const MarkerOptions& o : {options(6, 3), options(50, 2, "maf:0-0.5", 3), options(9, 7)}) {
    const Simulation run = run_with(o, 5, 300, 30);
    ASSERT_EQ(run.pedigree.created(), design.pedigree.created());
    for (std::int32_t i = 1; i <= design.pedigree.created(); ++i) {
      ASSERT_EQ(run.pedigree.sire[i], design.pedigree.sire[i]);
      ASSERT_EQ(run.pedigree.dam[i], design.pedigree.dam[i]);
      ASSERT_EQ(run.pedigree.born[i], design.pedigree.born[i]);
      ASSERT_EQ(run.pedigree.sex[i], design.pedigree.sex[i]);
      ASSERT_EQ(run.panel.lost(i), design.genotypes.lost[i] == 1);
      for (std::int32_t m = 0; run.panel.lost(i) && m < run.panel.markers(); ++m) {
        ASSERT_EQ(run.panel.recorded_allele(i, m, 1), 0);
      }
      if (!o.is_design_marker_model()) continue;
      ASSERT_EQ(run.panel.true_allele(i, 0, 0), design.genotypes.true_genotype(i).first);
      ASSERT_EQ(run.panel.true_allele(i, 0, 1), design.genotypes.true_genotype(i).second);
      ASSERT_EQ(run.panel.recorded_allele(i, 0, 0), design.genotypes.recorded_genotype(i).first);
      ASSERT_EQ(run.panel.recorded_allele(i, 0, 1), design.genotypes.recorded_genotype(i).second);
    }
    if (!o.is_design_marker_model()) continue;
    StringSink design_pre;
    StringSink panel_pre;
    write_outputs(design, {.pedigree = &design_pre});
    write_outputs(run, {.pedigree = &panel_pre});
    const auto design_rows = test::split_lines(design_pre.text);
    const auto panel_rows = test::split_lines(panel_pre.text);
    ASSERT_EQ(design_rows.size(), panel_rows.size());
    for (std::size_t r = 0; r < design_rows.size(); ++r) {
      ASSERT_EQ(panel_rows[r].substr(0, design_rows[r].size()), design_rows[r]);
      ASSERT_EQ(test::words(panel_rows[r]).size(), 4 + 2 * static_cast<std::size_t>(o.markers));
    }
  }
}

// The first markers of a larger panel are the smaller panel, true and
// recorded: unlinked, and on a marker file whose first rows are the same.
TEST(Panel, AddingMarkersKeepsTheMarkersThere) {
  const test::TempDir dir;
  std::string file = "marker\tchromosome\tposition_cm\n";
  for (int m = 0; m < 300; ++m) {
    file += std::string("s").append(std::to_string(m)).append("\t") + std::to_string(1 + m / 100) +
            "\t" + std::to_string((m % 100) * 1.5) + "\n";
  }
  test::write_file(dir.path() / "long.tsv", file);
  test::write_file(dir.path() / "short.tsv", file.substr(0, file.find("s100\t")));
  MarkerOptions long_file = options(1, 2, "maf:0.2-0.5");
  long_file.marker_file = (dir.path() / "long.tsv").string();
  MarkerOptions short_file = long_file;
  short_file.marker_file = (dir.path() / "short.tsv").string();
  for (const auto& [large, small] :
       {std::pair{options(1000, 2), options(100, 2)},
        std::pair{options(300, 6, "dirichlet:1"), options(100, 6, "dirichlet:1")},
        std::pair{options(300, 3), options(100, 3)}, std::pair{long_file, short_file}}) {
    const Simulation a = run_with(large, 3, 200, 20, 2);
    const Simulation b = run_with(small, 3, 200, 20, 2);
    ASSERT_EQ(b.panel.markers(), 100);
    for (std::int32_t i = 1; i <= b.panel.bred(); ++i) {
      for (std::int32_t m = 0; m < 100; ++m) {
        for (int side = 0; side < 2; ++side) {
          ASSERT_EQ(a.panel.true_allele(i, m, side), b.panel.true_allele(i, m, side))
              << large.describe() << " animal " << i << " marker " << m;
          ASSERT_EQ(a.panel.recorded_allele(i, m, side), b.panel.recorded_allele(i, m, side));
        }
      }
    }
  }
}

// The design's error rule on each marker: only candidates' first alleles
// change, each marker altered with probability p x K / (K + 1) (a
// replacement among 1..K+1 that differs from the true allele).
TEST(Panel, ErrorsStrikeEachMarkerOfACandidate) {
  for (const std::int32_t k : {2, 9}) {
    const Simulation run = run_with(options(400, k), 6, 1000, 100);
    const Panel& p = run.panel;
    double cells = 0;
    double altered = 0;
    for (std::int32_t i = 1; i <= p.bred(); ++i) {
      const bool candidate = std::binary_search(p.candidates().begin(), p.candidates().end(), i);
      for (std::int32_t m = 0; m < p.markers(); ++m) {
        const bool changed = !p.lost(i) && p.recorded_allele(i, m, 0) != p.true_allele(i, m, 0);
        ASSERT_TRUE(candidate || !changed);
        ASSERT_TRUE(p.lost(i) || p.recorded_allele(i, m, 1) == p.true_allele(i, m, 1));
        if (!candidate) continue;
        cells += 1;
        altered += changed ? 1 : 0;
      }
    }
    const double expected = 0.5 * k / (k + 1.0);
    ASSERT_GT(cells, 10000);
    EXPECT_NEAR(altered / cells, expected, 4 * std::sqrt(expected * (1 - expected) / cells)) << k;
  }
}

struct BadFile {
  std::string text;
  std::string message;
};

// A marker file's faults stop the run, naming the line, the column and the
// value.
TEST(MarkerFile, FaultsNameTheLineAndColumn) {
  const std::string header = "marker\tchromosome\tposition_cm\tfreq_1\tfreq_2\n";
  for (const BadFile& bad : std::vector<BadFile>{
           {"", "is empty"},
           {header, "has a header row but no markers"},
           {"marker\tchrom\tposition_cm\n", "line 1, column chrom: expected column 2 to be"},
           {"marker\tchromosome\tposition_cm\tfreq_1\tfreq_2\tfreq_3\n",
            "line 1, column freq_3: more frequency columns than the 2 alleles"},
           {header + "a\t1\t0\t0.5\t0.6\n", "line 2, column freq_1: the frequencies sum to 1.1"},
           {header + "a\t1\t5\t0.5\t0.5\nb\t1\t4\t0.5\t0.5\n",
            "line 3, column position_cm: '4' comes before"},
           {header + "a\tchr1\t0\t0.5\t0.5\n", "line 2, column chromosome: 'chr1' is not"},
           {header + "a\t1\t0\t0.5\t0.5\nb\t2\t0\t0.5\t0.5\nc\t1\t0\t0.5\t0.5\n",
            "line 4, column chromosome: chromosome '1' appears again after '2'"},
           {header + "a\t1\t0\t0.5\n", "line 2: expected 5 tab-separated columns, found 4"},
           {header + "a\t1\t0\t0.5\t0.5\na\t1\t1\t0.5\t0.5\n",
            "line 3, column marker: 'a' names an earlier marker"},
           {header + "a\t1\t-1\t0.5\t0.5\n", "line 2, column position_cm: '-1' is not"},
           {header + "a\t1\t0\tx\t0.5\n", "line 2, column freq_1: 'x' is not a frequency"},
       }) {
    try {
      parse_marker_file(bad.text, "map.tsv", 2);
      ADD_FAILURE() << "accepted: " << bad.text;
    } catch (const Stop& stop) {
      EXPECT_EQ(stop.status(), 2);
      EXPECT_NE(stop.text().find("marker file map.tsv"), std::string::npos) << stop.text();
      EXPECT_NE(stop.text().find(bad.message), std::string::npos) << stop.text();
    }
  }
  const MarkerMap map =
      parse_marker_file(header + "a\t1\t0\t0.25\t0.75\r\nb\tX\t0\t1\t0\n", "map.tsv", 3);
  EXPECT_EQ(map.names, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(map.chromosome_names, (std::vector<std::string>{"1", "X"}));
  EXPECT_EQ(map.frequencies[0], (std::vector<double>{0.25, 0.75, 0}));
}

// The allele tally (bit planes for two alleles, spilled every 127 animals)
// against a count genotype by genotype.
TEST(Panel, AlleleTallyCountsEveryGenotype) {
  for (const MarkerOptions& o : {options(130, 2), options(70, 5, "dirichlet:0.5")}) {
    const Simulation run = run_with(o);
    const Panel& p = run.panel;
    const std::int32_t founders = 300;
    const AlleleTally tally = tally_alleles(p, founders);
    for (std::int32_t m = 0; m < p.markers(); ++m) {
      std::vector<std::int64_t> copies(static_cast<std::size_t>(o.alleles) + 1, 0);
      std::int64_t heterozygous = 0;
      for (std::int32_t i = 1; i <= p.bred(); ++i) {
        ++copies[static_cast<std::size_t>(p.true_allele(i, m, 0))];
        ++copies[static_cast<std::size_t>(p.true_allele(i, m, 1))];
        heterozygous += i <= founders && p.true_allele(i, m, 0) != p.true_allele(i, m, 1);
      }
      for (std::int32_t a = 1; a <= o.alleles; ++a) {
        ASSERT_EQ(tally.of(m, a), copies[static_cast<std::size_t>(a)]) << m << " " << a;
      }
      ASSERT_EQ(tally.heterozygous[static_cast<std::size_t>(m)], heterozygous) << m;
    }
  }
}

}  // namespace
}  // namespace pedsim
