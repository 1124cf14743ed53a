// The relatedness truth against what it must agree with: the genotypes it
// explains, Haldane's crossover counts, and pedigree kinship computed here
// by the plain tabular recursion.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "pedsim/pedsim.hpp"

namespace pedsim {
namespace {

MarkerOptions linked_panel(std::int32_t markers, std::int32_t chromosomes) {
  MarkerOptions m;
  m.markers = markers;
  m.alleles = 4;
  m.chromosomes = chromosomes;
  m.chromosome_length = 150;
  return m;
}

RecordOptions complete_records() {
  RecordOptions r;
  r.error_model = "none";
  r.missing_model = "none";
  return r;
}

// Pedigree kinship by the tabular method: A(i, j) over animals in parents-
// first order, from the parents of the younger.
std::vector<std::vector<double>> tabular_kinship(const Pedigree& p) {
  const std::int32_t n = p.created();
  std::vector<std::vector<double>> a(static_cast<std::size_t>(n) + 1,
                                     std::vector<double>(static_cast<std::size_t>(n) + 1, 0));
  const auto at = [&a](std::int32_t x, std::int32_t y) -> double {
    return x == 0 || y == 0 ? 0 : a[static_cast<std::size_t>(x)][static_cast<std::size_t>(y)];
  };
  for (std::int32_t i = 1; i <= n; ++i) {
    for (std::int32_t j = 1; j < i; ++j) {
      const double v = (at(j, p.sire[i]) + at(j, p.dam[i])) / 2;
      a[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = v;
      a[static_cast<std::size_t>(j)][static_cast<std::size_t>(i)] = v;
    }
    a[static_cast<std::size_t>(i)][static_cast<std::size_t>(i)] = 1 + at(p.sire[i], p.dam[i]) / 2;
  }
  return a;  // relationship; kinship is half of it
}

// At every marker inside a segment (an unlinked marker: its own segment),
// the animal's true allele on that haplotype is its founder haplotype's.
TEST(Relatedness, SegmentsExplainEveryTrueAllele) {
  MarkerOptions unlinked;
  unlinked.markers = 300;
  unlinked.alleles = 3;  // the classic marker model: marker 1 has no segments
  for (const MarkerOptions& markers : {linked_panel(600, 3), unlinked}) {
    const Simulation run = simulate(Parameters::make(6, 120, 12), Seed{5, "test"}, {}, {}, markers,
                                    complete_records());
    const Relatedness truth(run);
    const MarkerMap& map = run.panel.map();
    std::int64_t checked = 0;
    for (const Segment& s : truth.segments()) {
      for (std::int32_t m = 0; m < map.size(); ++m) {
        const bool inside =
            map.linked() ? map.chromosome[static_cast<std::size_t>(m)] == s.chromosome &&
                               map.position_cm[static_cast<std::size_t>(m)] >= s.start_cm &&
                               map.position_cm[static_cast<std::size_t>(m)] < s.end_cm
                         : map.names[static_cast<std::size_t>(m)] ==
                               truth.chromosome_names()[static_cast<std::size_t>(s.chromosome)];
        if (!inside) continue;
        ASSERT_EQ(run.panel.true_allele(s.animal, m, s.haplotype - 1),
                  run.panel.true_allele(s.founder, m, s.founder_haplotype - 1))
            << "animal " << s.animal << " marker " << m;
        ++checked;
      }
    }
    EXPECT_GT(checked, (map.size() - 1) * 2 * 300);
  }
}

// A founder's two haplotypes differ, so each crossover of a meiosis from a
// founder ends a segment: their count is Poisson with the chromosome's
// length in Morgans as mean.
TEST(Relatedness, CrossoversFromFoundersArePoissonByHaldane) {
  const Simulation run = simulate(Parameters::make(1, 2000, 200), Seed{8, "test"}, {}, {},
                                  linked_panel(400, 2), complete_records());
  const Relatedness truth(run);
  std::map<std::tuple<std::int32_t, std::int32_t, std::int32_t>, int> segments;
  for (const Segment& s : truth.segments()) {
    if (run.pedigree.sire[s.animal] != 0) ++segments[{s.animal, s.haplotype, s.chromosome}];
  }
  const double last = run.panel.map().position_cm.back();
  double sum = 0;
  double squares = 0;
  for (const auto& [key, count] : segments) {
    sum += count - 1;
    squares += (count - 1.0) * (count - 1.0);
  }
  const double n = static_cast<double>(segments.size());
  const double mean = sum / n;
  EXPECT_NEAR(mean, last / 100, 4 * std::sqrt(last / 100 / n));
  EXPECT_NEAR(squares / n - mean * mean, last / 100, 0.1 * last / 100);
}

// Pedigree inbreeding and kinship are the tabular method's; realised
// kinship averages to it; parents share exactly one haplotype with their
// offspring when nothing is inbred, full sibs 1/4, 1/2, 1/4.
TEST(Relatedness, KinshipAgreesWithThePedigreeOnAverage) {
  std::string text = "animal sire dam sex\n";
  for (int f = 0; f < 150; ++f) {
    const std::string s = "s" + std::to_string(f);
    const std::string d = "d" + std::to_string(f);
    text += s + " 0 0 M\n" + d + " 0 0 F\n";
    for (int k = 0; k < 4; ++k)
      text += "o" + std::to_string(f) + "_" + std::to_string(k) + " " + s + " " + d + " M\n";
  }
  // Half-sib matings across families, for inbred and related animals.
  for (int f = 0; f + 1 < 150; f += 2) {
    text += "g" + std::to_string(f) + " o" + std::to_string(f) + "_0 d" + std::to_string(f + 1) +
            " M\n";
  }
  const SuppliedPedigree supplied = parse_pedigree(text, "herd", nullptr);
  const Simulation run =
      simulate(supplied, Seed{11, "test"}, {}, {}, linked_panel(300, 3), complete_records());
  const Relatedness truth(run);
  const auto a = tabular_kinship(run.pedigree);
  for (std::int32_t i = 1; i <= run.pedigree.created(); ++i) {
    ASSERT_NEAR(truth.inbreeding_true()[static_cast<std::size_t>(i - 1)],
                a[static_cast<std::size_t>(i)][static_cast<std::size_t>(i)] - 1, 1e-12);
  }
  const PairList list = pairs_of(run, "parent-offspring,full-sibs,half-sibs");
  const std::vector<PairTruth> pairs = truth.pairs(list.pairs, list.relationships);
  std::map<std::string, std::vector<const PairTruth*>> by_kind;
  for (const PairTruth& p : pairs) {
    ASSERT_NEAR(p.kinship_true,
                a[static_cast<std::size_t>(p.first)][static_cast<std::size_t>(p.second)] / 2,
                1e-12);
    by_kind[p.relationship].push_back(&p);
  }
  for (const auto& [kind, members] : by_kind) {
    double realised = 0, pedigree = 0, squares = 0;
    for (const PairTruth* p : members) {
      realised += p->kinship_realised;
      pedigree += p->kinship_true;
      squares += p->kinship_realised * p->kinship_realised;
    }
    const double n = static_cast<double>(members.size());
    const double sd = std::sqrt(std::max(squares / n - realised * realised / n / n, 1e-6));
    EXPECT_NEAR(realised / n, pedigree / n, 4 * sd) << kind;
  }
  for (const PairTruth* p : by_kind["parent-offspring"]) {
    if (run.pedigree.sire[p->first] == 0 && run.pedigree.dam[p->first] == 0) {
      ASSERT_DOUBLE_EQ(p->ibd1, 1) << p->first << " " << p->second;
    }
  }
  double shares[3] = {0, 0, 0};
  const auto& sibs = by_kind["full-sibs"];
  for (const PairTruth* p : sibs) {
    shares[0] += p->ibd0;
    shares[1] += p->ibd1;
    shares[2] += p->ibd2;
  }
  const double n = static_cast<double>(sibs.size());
  // Pairs of one family are not independent: a generous 4 SE of families.
  for (const auto& [k, want] : {std::pair{0, 0.25}, std::pair{1, 0.5}, std::pair{2, 0.25}}) {
    EXPECT_NEAR(shares[k] / n, want, 4 * std::sqrt(want * (1 - want) / 150 / 4)) << k;
  }
}

}  // namespace
}  // namespace pedsim
