// X, Y and MT against their inheritance as written out here: X from the dam
// to every offspring and from the sire to his daughters only, Y from sire to
// son, MT from the dam; records of one copy hold one allele.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "pedsim/pedsim.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

MarkerOptions sex_panel(std::string sex_chromosomes) {
  MarkerOptions m;
  m.markers = 200;
  m.alleles = 2;
  m.chromosomes = 2;
  m.frequencies = "maf:0.2-0.5";
  m.sex_chromosomes = std::move(sex_chromosomes);
  return m;
}

RecordOptions complete() {
  RecordOptions r;
  r.error_model = "none";
  r.missing_model = "none";
  return r;
}

RecordOptions random_records(double error_rate, double call_rate) {
  RecordOptions r;
  r.error_model = "random-allele";
  r.error_rate = error_rate;
  r.missing_model = "random";
  r.call_rate = call_rate;
  return r;
}

Simulation sex_run(const MarkerOptions& markers, const RecordOptions& r) {
  return simulate(Parameters::make(6, 400, 40), Seed{7, "test"}, {}, {}, markers, r);
}

bool carries(const Panel& panel, std::int32_t animal, std::int32_t marker, std::int32_t allele) {
  return panel.true_allele(animal, marker, 0) == allele ||
         panel.true_allele(animal, marker, 1) == allele;
}

// Breaks of each chromosome's line in a run; and, of the sons of dams
// heterozygous at X's first marker, how many and how many took her first.
struct Lines {
  std::int64_t broken = 0;
  std::int64_t sons = 0;
  std::int64_t from_her_first = 0;
};

Lines lines_of(const Simulation& run) {
  const Panel& panel = run.panel;
  const Pedigree& p = run.pedigree;
  const MarkerRange x = panel.x_markers(), y = panel.y_markers(), mt = panel.mt_markers();
  Lines lines;
  std::int64_t& broken = lines.broken;
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    const bool male = p.sex[i] == kMale;
    const std::int32_t sire = p.sire[i], dam = p.dam[i];
    const auto allele = [&](std::int32_t animal, std::int32_t m, int side) {
      return panel.true_allele(animal, m, side);
    };
    for (std::int32_t m = x.first; m < x.end; ++m) {
      broken += male && allele(i, m, 0) != allele(i, m, 1);
      broken += dam != 0 && !carries(panel, dam, m, allele(i, m, 1));
      broken += !male && sire != 0 && allele(i, m, 0) != allele(sire, m, 0);
    }
    if (male && dam != 0 && allele(dam, x.first, 0) != allele(dam, x.first, 1)) {
      ++lines.sons;
      lines.from_her_first += allele(i, x.first, 1) == allele(dam, x.first, 0);
    }
    for (std::int32_t m = y.first; m < y.end; ++m) {
      if (!male) {
        broken += allele(i, m, 0) != 0 || allele(i, m, 1) != 0;
        continue;
      }
      broken += allele(i, m, 0) != allele(i, m, 1) || allele(i, m, 0) == 0;
      broken += sire != 0 && allele(i, m, 0) != allele(sire, m, 0);
    }
    for (std::int32_t m = mt.first; m < mt.end; ++m) {
      broken += allele(i, m, 0) != allele(i, m, 1);
      broken += dam != 0 && allele(i, m, 1) != allele(dam, m, 1);
    }
  }
  return lines;
}

void expect_lines_kept(const Simulation& run) {
  const Lines lines = lines_of(run);
  EXPECT_EQ(lines.broken, 0);
  ASSERT_GT(lines.sons, 300);
  EXPECT_LT(std::abs(lines.from_her_first - lines.sons / 2.0), 4 * std::sqrt(lines.sons / 4.0));
}

TEST(SexChromosomes, EachFollowsItsLineAndLeavesTheAutosomesAlone) {
  const Simulation run = sex_run(sex_panel("X:300,Y:30,MT:20"), complete());
  const Panel& panel = run.panel;
  const Pedigree& p = run.pedigree;
  ASSERT_EQ(panel.x_markers().end - panel.x_markers().first, 300);
  ASSERT_EQ(panel.y_markers().end - panel.y_markers().first, 30);
  ASSERT_EQ(panel.mt_markers().end - panel.mt_markers().first, 20);
  expect_lines_kept(run);
  // The autosomes' streams do not see the chromosomes added after them.
  const Simulation plain = sex_run(sex_panel(""), complete());
  std::int64_t moved = 0;
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    for (std::int32_t m = 0; m < plain.panel.markers(); ++m) {
      for (int side = 0; side < 2; ++side) {
        moved += plain.panel.true_allele(i, m, side) != panel.true_allele(i, m, side);
      }
    }
  }
  EXPECT_EQ(moved, 0);
}

// A marker file's X, Y and MT, wherever they lie in the map.
TEST(SexChromosomes, AMarkerFileNamesThemInAnyOrder) {
  test::TempDir dir;
  std::string map = "marker\tchromosome\tposition_cm\n";
  int number = 0;
  for (const auto& [chromosome, count] : std::initializer_list<std::pair<const char*, int>>{
           {"MT", 10}, {"1", 50}, {"X", 200}, {"XY", 20}, {"Y", 10}, {"2", 50}}) {
    for (int j = 0; j < count; ++j) {
      map.append("m")
          .append(std::to_string(++number))
          .append("\t")
          .append(chromosome)
          .append("\t")
          .append(std::to_string(j))
          .append("\n");
    }
  }
  test::write_file(dir.path() / "map.tsv", map);
  MarkerOptions markers;
  markers.alleles = 2;
  markers.marker_file = (dir.path() / "map.tsv").string();
  const Simulation run = sex_run(markers, complete());
  EXPECT_EQ(run.panel.mt_markers().first, 0);
  EXPECT_EQ(run.panel.x_markers().first, 60);
  EXPECT_EQ(run.panel.y_markers().first, 280);
  expect_lines_kept(run);
}

// Whether a called child genotype can come from its parents' called ones,
// by the chromosome's inheritance: a sire passes no MT, and no X to a son.
bool fits(const Panel& panel, const Pedigree& p, std::int32_t i, std::int32_t m) {
  const auto recorded = [&](std::int32_t animal, int side) {
    return animal == 0 ? 0 : panel.recorded_allele(animal, m, side);
  };
  const bool sire_passes =
      !panel.mt_markers().contains(m) && !(p.sex[i] == kMale && panel.x_markers().contains(m));
  const std::int32_t sire = sire_passes ? p.sire[i] : 0;
  const std::int32_t c0 = recorded(i, 0), c1 = recorded(i, 1);
  const auto has = [&](std::int32_t parent, std::int32_t a) {
    return recorded(parent, 0) == a || recorded(parent, 1) == a;
  };
  const bool s = recorded(sire, 0) != 0, d = recorded(p.dam[i], 0) != 0;
  if (s && d) {
    return (has(sire, c0) && has(p.dam[i], c1)) || (has(sire, c1) && has(p.dam[i], c0));
  }
  if (s) return has(sire, c0) || has(sire, c1);
  if (d) return has(p.dam[i], c0) || has(p.dam[i], c1);
  return true;
}

TEST(SexChromosomes, OneCopyIsRecordedAsOneAlleleAndCheckedByItsLine) {
  const double error_rate = 0.05, call_rate = 0.9;
  const Simulation run =
      sex_run(sex_panel("X:100,Y:30,MT:20"), random_records(error_rate, call_rate));
  const Panel& panel = run.panel;
  std::int64_t broken = 0, one_copy = 0, called = 0, altered = 0;
  std::int64_t inconsistent = 0;
  for (std::int32_t i = 1; i <= run.pedigree.created(); ++i) {
    for (std::int32_t m = 0; m < panel.markers(); ++m) {
      const std::int32_t r0 = panel.recorded_allele(i, m, 0), r1 = panel.recorded_allele(i, m, 1);
      inconsistent += r0 != 0 && !fits(panel, run.pedigree, i, m);
      const int copies = panel.copies(i, m);
      if (copies == 2) continue;
      if (copies == 0) {
        broken += r0 != 0 || r1 != 0 || panel.altered_at(i, m) != nullptr;
        continue;
      }
      ++one_copy;
      if (r0 == 0) continue;
      ++called;
      broken += r0 != r1;
      altered += r0 != panel.true_allele(i, m, 0);
    }
  }
  EXPECT_EQ(broken, 0);
  const auto within = [](double count, double n, double p) {
    return std::abs(count - n * p) < 4 * std::sqrt(n * p * (1 - p));
  };
  EXPECT_TRUE(within(static_cast<double>(called), static_cast<double>(one_copy), call_rate));
  EXPECT_TRUE(within(static_cast<double>(altered), static_cast<double>(called), error_rate));
  const MarkerTable table = marker_table(run);
  const std::vector<double>& by_marker = table.column("inconsistent_genotypes");
  double counted = 0;
  for (const double c : by_marker) counted += c;
  EXPECT_GT(inconsistent, 1000);
  EXPECT_EQ(static_cast<std::int64_t>(counted), inconsistent);
}

TEST(SexChromosomes, AnAnimalOfUnknownSexStopsARunWithXOrYNaming) {
  const SuppliedPedigree herd = parse_pedigree("s 0 0 M\nd 0 0 F\nk s d 0\n", "herd.txt", nullptr);
  for (const std::string asked : {"X:5", "Y:5", "MT:5"}) {
    const auto run = [&] {
      return simulate(herd, Seed{1, "test"}, {}, {}, sex_panel(asked), complete());
    };
    if (asked == "MT:5") {
      EXPECT_NO_THROW(run());
      continue;
    }
    try {
      run();
      ADD_FAILURE() << asked << " ran";
    } catch (const Stop& stop) {
      EXPECT_EQ(stop.status(), 2);
      EXPECT_NE(std::string(stop.what()).find("no sex for animal k"), std::string::npos)
          << stop.what();
    }
  }
}

}  // namespace
}  // namespace pedsim

namespace pedsim {
namespace {

// The classic error rule strikes a called genotype whose known parents hold
// none there: on Y, where a dam holds none, a son whose sire's records were
// lost is a candidate too.
TEST(SexChromosomes, TheClassicErrorRuleCountsADamWithoutAYAsHoldingNone) {
  RecordOptions design;
  design.error_model = "design";
  design.missing_model = "design";
  const Simulation run = sex_run(sex_panel("X:10,Y:10,MT:5"), design);
  const Panel& panel = run.panel;
  const Pedigree& p = run.pedigree;
  std::int64_t candidates = 0, y_only = 0;
  for (std::int32_t i = 1; i <= p.created(); ++i) {
    const std::int32_t sire = p.sire[i], dam = p.dam[i];
    bool candidate = false;
    for (std::int32_t m = 0; m < panel.markers() && sire != 0 && dam != 0; ++m) {
      candidate =
          candidate || (panel.called(i, m) && !panel.called(sire, m) && !panel.called(dam, m));
    }
    candidates += candidate;
    y_only += candidate && panel.lost(sire) && !panel.lost(dam);
  }
  EXPECT_GT(y_only, 10);
  EXPECT_EQ(run.error_candidates, candidates);
}

}  // namespace
}  // namespace pedsim
