// Missing-data and error models: realised rates, each model's changes,
// detectable errors, and runs that stay comparable across rates.

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "formats/plink.hpp"
#include "input/error_matrix.hpp"
#include "pedsim/pedsim.hpp"
#include "sim/panel_kernels.hpp"
#include "sim/rare_events.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

constexpr std::int32_t kSeed = 4242;

MarkerOptions snps(std::int32_t markers, std::int32_t alleles = 2) {
  MarkerOptions o;
  o.markers = markers;
  o.alleles = alleles;
  return o;
}

RecordOptions errors(std::string model, double rate) {
  RecordOptions r;
  r.error_model = std::move(model);
  r.error_rate = rate;
  return r;
}

RecordOptions with_call_rate(RecordOptions r, double c) {
  r.missing_model = "random";
  r.call_rate = c;
  return r;
}

Simulation run_with(const MarkerOptions& markers, const RecordOptions& records,
                    std::int32_t generations = 4, std::int32_t founders = 600,
                    std::int32_t males = 60) {
  return simulate(Parameters::make(generations, founders, males), Seed{kSeed, "test"}, {}, {},
                  markers, records);
}

// A share against its expectation, within 4 binomial standard errors.
void expect_share(double hits, double trials, double p, const std::string& what) {
  ASSERT_GT(trials, 0) << what;
  EXPECT_NEAR(hits / trials, p, 4 * std::sqrt(p * (1 - p) / trials)) << what;
}

bool is_het(const Panel& p, std::int32_t i, std::int32_t m) {
  return p.true_allele(i, m, 0) != p.true_allele(i, m, 1);
}

// Called genotypes at rate c; random-allele changes exactly one allele of a
// called genotype, to another of the marker's alleles, at rate e; dropout
// turns heterozygotes only into a homozygote of one of their alleles; on
// panels held as bytes and as bits.
TEST(RecordModels, ModelsChangeWhatTheySayAtTheirRates) {
  for (const auto& [model, alleles] : {std::pair{"random-allele", 5}, std::pair{"dropout", 4},
                                       std::pair{"random-allele", 2}, std::pair{"dropout", 2}}) {
    const double e = 0.04;
    const double c = 0.8;
    const Simulation run = run_with(snps(200, alleles), with_call_rate(errors(model, e), c));
    const Panel& p = run.panel;
    double cells = 0;
    double called = 0;
    double eligible = 0;
    double altered = 0;
    for (std::int32_t i = 1; i <= p.bred(); ++i) {
      for (std::int32_t m = 0; m < p.markers(); ++m) {
        cells += 1;
        if (!p.called(i, m)) {
          ASSERT_EQ(p.recorded_allele(i, m, 0), 0);
          continue;
        }
        called += 1;
        const std::int32_t a = p.true_allele(i, m, 0);
        const std::int32_t b = p.true_allele(i, m, 1);
        const std::int32_t x = p.recorded_allele(i, m, 0);
        const std::int32_t y = p.recorded_allele(i, m, 1);
        const bool changed = x != a || y != b;
        const bool het = a != b;
        eligible += std::string(model) == "dropout" ? het : 1;
        altered += changed;
        if (!changed) continue;
        if (std::string(model) == "dropout") {
          ASSERT_TRUE(het);
          ASSERT_TRUE(x == y && (x == a || x == b));
        } else {
          ASSERT_TRUE((x == a) != (y == b));
          ASSERT_GE(std::min(x, y), 1);
          ASSERT_LE(std::max(x, y), alleles);
        }
      }
    }
    expect_share(called, cells, c, std::string(model) + " call rate");
    expect_share(altered, eligible, e, std::string(model) + " error rate");
    EXPECT_EQ(static_cast<std::size_t>(altered), p.altered().size());
  }
}

// The per-marker rates spread as a Beta of concentration A: their variance
// across markers is the Beta's, e(1-e)/(A+1), plus each marker's binomial
// variance (a sample variance over 300 markers, within 40 %).
TEST(RecordModels, SpreadsShowAcrossMarkers) {
  const double a = 8;
  const double e = 0.2;
  RecordOptions spread_errors = errors("random-allele", e);
  spread_errors.error_spread = a;
  RecordOptions spread_calls = with_call_rate(RecordOptions{}, 0.7);
  spread_calls.call_rate_spread = a;
  for (const bool calls : {false, true}) {
    const Simulation run = run_with(snps(300), calls ? spread_calls : spread_errors, 2, 2000, 200);
    const Panel& p = run.panel;
    const double mean = calls ? 0.7 : e;
    std::vector<double> rates;
    double binomial = 0;
    for (std::int32_t m = 0; m < p.markers(); ++m) {
      double trials = 0;
      double hits = 0;
      for (std::int32_t i = 1; i <= p.bred(); ++i) {
        if (calls) {
          trials += 1;
          hits += p.called(i, m);
        } else if (p.called(i, m)) {
          trials += 1;
          hits += p.recorded_allele(i, m, 0) != p.true_allele(i, m, 0) ||
                  p.recorded_allele(i, m, 1) != p.true_allele(i, m, 1);
        }
      }
      rates.push_back(hits / trials);
      binomial += mean * (1 - mean) / trials / p.markers();
    }
    double average = 0;
    for (const double r : rates) average += r / static_cast<double>(rates.size());
    double variance = 0;
    for (const double r : rates) variance += (r - average) * (r - average) / (rates.size() - 1.0);
    const double expected = mean * (1 - mean) / (a + 1) * (1 - binomial) + binomial;
    EXPECT_NEAR(variance / expected, 1, 0.4) << (calls ? "call rates" : "error rates");
    EXPECT_NEAR(average, mean, 4 * std::sqrt(expected / rates.size()));
  }
}

// An exact count: round(e x the genotypes the model can alter).
TEST(RecordModels, ExactCountsAreExact) {
  for (const char* model : {"random-allele", "dropout"}) {
    RecordOptions r = with_call_rate(errors(model, 0.013), 0.9);
    r.exact_error_count = true;
    const Simulation run = run_with(snps(120), r);
    const Panel& p = run.panel;
    double eligible = 0;
    for (std::int32_t i = 1; i <= p.bred(); ++i) {
      for (std::int32_t m = 0; m < p.markers(); ++m) {
        eligible += p.called(i, m) && (std::string(model) != "dropout" || is_het(p, i, m));
      }
    }
    EXPECT_EQ(p.altered().size(), static_cast<std::size_t>(std::llround(0.013 * eligible)))
        << model;
  }
}

// The matrix's rows, P(recorded | true), against the recorded classes of a
// large run: chi-square over the six cells with two free ones per row (6
// degrees of freedom; 0.9999 quantile 27.9).
TEST(RecordModels, MatrixIsReproduced) {
  const test::TempDir dir;
  const ErrorMatrix matrix{{{0.9, 0.07, 0.03}, {0.05, 0.8, 0.15}, {0.01, 0.09, 0.9}}};
  test::write_file(dir.path() / "m.tsv",
                   "# P(recorded | true)\n0.9\t0.07\t0.03\n0.05\t0.8\t0.15\n0.01\t0.09\t0.9\n");
  RecordOptions r;
  r.error_model = "matrix:" + (dir.path() / "m.tsv").string();
  const Simulation run = run_with(snps(100), r, 3);
  const Panel& p = run.panel;
  double counts[3][3] = {};
  for (std::int32_t i = 1; i <= p.bred(); ++i) {
    for (std::int32_t m = 0; m < p.markers(); ++m) {
      if (!p.called(i, m)) continue;
      const int g = (p.true_allele(i, m, 0) == 2) + (p.true_allele(i, m, 1) == 2);
      const int h = (p.recorded_allele(i, m, 0) == 2) + (p.recorded_allele(i, m, 1) == 2);
      counts[g][h] += 1;
    }
  }
  double chi_square = 0;
  for (int g = 0; g < 3; ++g) {
    const double n = counts[g][0] + counts[g][1] + counts[g][2];
    for (int h = 0; h < 3; ++h) {
      const double expected = n * matrix[g][h];
      chi_square += std::pow(counts[g][h] - expected, 2) / expected;
    }
  }
  EXPECT_LT(chi_square, 27.9);
}

// The recorded genotype of `animal` at m, 0/0 when not called or no animal.
std::pair<int, int> rec(const Panel& p, std::int32_t animal, std::int32_t m) {
  if (animal == 0 || !p.called(animal, m)) return {0, 0};
  return {p.recorded_allele(animal, m, 0), p.recorded_allele(animal, m, 1)};
}

// A trio check written out here: can the child's alleles come one from each
// called parent (either order)?
bool trio_fails(const Simulation& run, std::int32_t child, std::int32_t m) {
  const Panel& p = run.panel;
  const auto [a, b] = rec(p, child, m);
  if (a == 0) return false;
  const auto [s1, s2] = rec(p, run.pedigree.sire[child], m);
  const auto [d1, d2] = rec(p, run.pedigree.dam[child], m);
  const auto from = [](int allele, int x, int y) { return x == 0 || allele == x || allele == y; };
  return !((from(a, s1, s2) && from(b, d1, d2)) || (from(b, s1, s2) && from(a, d1, d2)));
}

// Detectable, as defined: the altered genotype's own trio fails, or the
// trio of an offspring does.
TEST(RecordModels, DetectableMeansAFailingTrioAroundTheGenotype) {
  // Two alleles are checked a word of markers at a time, three one by one.
  for (const std::int32_t alleles : {2, 3}) {
    SCOPED_TRACE(alleles);
    const Simulation run =
        run_with(snps(150, alleles), with_call_rate(errors("random-allele", 0.05), 0.85));
    const std::vector<std::uint8_t> flags = detectable_errors(run);
    ASSERT_EQ(flags.size(), run.panel.altered().size());
    std::size_t detectable = 0;
    std::size_t k = 0;
    run.panel.for_each_altered([&](std::int32_t animal, const AlteredCell& cell) {
      bool expected = trio_fails(run, animal, cell.marker);
      for (std::int32_t o = 1; o <= run.pedigree.created() && !expected; ++o) {
        if (run.pedigree.sire[o] == animal || run.pedigree.dam[o] == animal) {
          expected = trio_fails(run, o, cell.marker);
        }
      }
      EXPECT_EQ(flags[k++] != 0, expected) << animal << " " << cell.marker;
      detectable += expected;
    });
    EXPECT_GT(detectable, 0U);
    EXPECT_LT(detectable, flags.size());
  }
}

// The pedigree and true genotypes never change; the error rate never moves
// the missing genotypes; the call rate never changes the errors of the
// genotypes both runs call.
TEST(RecordModels, RatesMoveOnlyWhatTheyGovern) {
  const Simulation plain = run_with(snps(80), RecordOptions{});
  const Simulation low = run_with(snps(80), with_call_rate(errors("random-allele", 0.02), 0.9));
  const Simulation high = run_with(snps(80), with_call_rate(errors("random-allele", 0.2), 0.9));
  const Simulation fewer = run_with(snps(80), with_call_rate(errors("random-allele", 0.02), 0.6));
  std::size_t shared = 0;
  for (std::int32_t i = 1; i <= plain.panel.bred(); ++i) {
    ASSERT_EQ(low.pedigree.sire[i], plain.pedigree.sire[i]);
    ASSERT_EQ(low.pedigree.dam[i], plain.pedigree.dam[i]);
    for (std::int32_t m = 0; m < plain.panel.markers(); ++m) {
      for (int side = 0; side < 2; ++side) {
        ASSERT_EQ(low.panel.true_allele(i, m, side), plain.panel.true_allele(i, m, side));
      }
      ASSERT_EQ(low.panel.called(i, m), high.panel.called(i, m));
      if (!low.panel.called(i, m) || !fewer.panel.called(i, m)) continue;
      ++shared;
      for (int side = 0; side < 2; ++side) {
        ASSERT_EQ(low.panel.recorded_allele(i, m, side), fewer.panel.recorded_allele(i, m, side));
      }
    }
  }
  EXPECT_GT(shared, 1000U);
}

// Exactly round(p x parents) parents lose every genotype (with every
// other genotype called); with the design's missing model, the age
// schedule's losses stay, count toward the share, and only parents are
// added to them.
TEST(RecordModels, UngenotypedParentsAreAShareOfTheParents) {
  RecordOptions all_called = with_call_rate(RecordOptions{}, 1);
  all_called.ungenotyped_parents = 0.3;
  RecordOptions by_age;
  by_age.ungenotyped_parents = 0.3;
  const Simulation design = run_with(snps(5), RecordOptions{});
  const Simulation run = run_with(snps(5), all_called);
  const Simulation aged = run_with(snps(5), by_age);
  std::set<std::int32_t> parents;
  for (std::int32_t i = 1; i <= run.pedigree.created(); ++i) {
    if (run.pedigree.sire[i] != 0) parents.insert({run.pedigree.sire[i], run.pedigree.dam[i]});
  }
  std::size_t lost = 0;
  std::size_t aged_parents = 0;
  std::size_t design_parents = 0;
  for (std::int32_t i = 1; i <= run.pedigree.created(); ++i) {
    if (run.panel.lost(i)) {
      ASSERT_TRUE(parents.count(i)) << i;
      ++lost;
    }
    ASSERT_TRUE(!design.panel.lost(i) || aged.panel.lost(i)) << i;
    ASSERT_TRUE(!aged.panel.lost(i) || design.panel.lost(i) || parents.count(i)) << i;
    aged_parents += parents.count(i) != 0 && aged.panel.lost(i);
    design_parents += parents.count(i) != 0 && design.panel.lost(i);
  }
  const auto share =
      static_cast<std::size_t>(std::llround(0.3 * static_cast<double>(parents.size())));
  EXPECT_EQ(lost, share);
  EXPECT_EQ(aged_parents, std::max(share, design_parents));
}

// The design's rule under another missing-data model strikes, at each
// marker, the called genotypes whose parents are known and missing there:
// first alleles only, at p x K / (K + 1).
TEST(RecordModels, DesignRuleFollowsTheMissingGenotypes) {
  const Simulation run = run_with(snps(60, 3), with_call_rate(RecordOptions{}, 0.5));
  const Panel& p = run.panel;
  double candidates = 0;
  double altered = 0;
  for (std::int32_t i = 1; i <= p.bred(); ++i) {
    const std::int32_t sire = run.pedigree.sire[i];
    const std::int32_t dam = run.pedigree.dam[i];
    for (std::int32_t m = 0; m < p.markers(); ++m) {
      const bool changed = p.called(i, m) && p.recorded_allele(i, m, 0) != p.true_allele(i, m, 0);
      const bool candidate = sire != 0 && p.called(i, m) && !p.called(sire, m) && !p.called(dam, m);
      ASSERT_TRUE(candidate || !changed) << i << " " << m;
      ASSERT_TRUE(!p.called(i, m) || p.recorded_allele(i, m, 1) == p.true_allele(i, m, 1));
      candidates += candidate;
      altered += changed;
    }
  }
  expect_share(altered, candidates, 0.5 * 3 / 4, "design rule");
}

// Events along a row: the cells visited are the candidates only (a number
// per candidate, p_max x n of them), events come at each cell's own rate,
// and the gaps' logarithm agrees with the library's.
TEST(RecordModels, RowEventsCostTheirCandidatesOnly) {
  const std::array<std::uint32_t, 2> key{7, 9};
  RowEvents events(key, 1, 2, true, MarkerMap{});
  const std::int32_t n = 10'000'000;
  const double p_max = 2e-4;
  double candidates = 0;
  double early = 0;
  double late = 0;
  events.for_each(
      5, n, p_max,
      [&](std::int32_t m) {
        candidates += 1;
        return m < n / 2 ? p_max : p_max / 4;
      },
      [&](std::int32_t m, std::uint32_t) { (m < n / 2 ? early : late) += 1; });
  const double expected = p_max * n;
  EXPECT_NEAR(candidates, expected, 4 * std::sqrt(expected));
  EXPECT_NEAR(early, expected / 2, 4 * std::sqrt(expected / 2));
  EXPECT_NEAR(late, expected / 8, 4 * std::sqrt(expected / 8));
  std::vector<std::uint32_t> u;
  for (std::uint64_t k = 0; k < (std::uint64_t{1} << 32); k += 65537)
    u.push_back(static_cast<std::uint32_t>(k));
  std::vector<std::uint32_t> gaps(u.size());
  const double scale = 1 / std::log1p(-0.003);
  geometric_gaps(u.data(), u.size(), scale, gaps.data());
  for (std::size_t k = 0; k < u.size(); ++k) {
    const double exact = std::log((u[k] + 0.5) * 0x1p-32) * scale;
    const double fraction = exact - std::floor(exact);
    const double tolerance = fraction < 1e-9 || fraction > 1 - 1e-9 ? 1 : 0;
    ASSERT_NEAR(gaps[k], std::floor(exact), tolerance) << u[k];
  }
}

struct BadRecords {
  std::vector<std::string> args;
  std::string message;
};

// A rate given alone picks the model that takes it, in either order with
// other options; a model named explicitly is kept.
TEST(RecordModels, ARateAlonePicksItsModel) {
  for (const auto& [args, model] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--error-rate", "0.1"},
            "error_model=random-allele error_rate=0.1 missing_model=design"},
           {{"--call-rate", "0.9"}, "error_model=design missing_model=random call_rate=0.9"},
           {{"--error-rate", "0.1", "--error-model", "dropout"}, "error_model=dropout"},
           {{"--error-model", "none", "--missing-model", "none"},
            "error_model=none missing_model=none"},
       }) {
    Settings settings;
    for (std::size_t k = 0; k < args.size(); k += 2) {
      apply_option(*find_option(args[k]), args[k + 1], settings);
    }
    EXPECT_NE(settings.records.describe().find(model), std::string::npos)
        << settings.records.describe();
    settings.records.validate(settings.markers);
  }
}

// Options that do not go together, and faulty matrix files, stop with
// status 2 before any file is touched, naming what is wrong.
TEST(RecordModels, FaultsAreUsageErrors) {
  const test::TempDir dir;
  test::write_file(dir.path() / "bad.tsv", "0.9\t0.1\t0\n0.5\t0.4\t0.2\n0\t0\t1\n");
  test::write_file(dir.path() / "short.tsv", "1\t0\t0\n0.05\t0.9\t0.05\n0\t0.07\t0.9\n");
  for (const BadRecords& bad : std::vector<BadRecords>{
           {{"--error-model", "random-allele"}, "--error-model random-allele needs --error-rate"},
           {{"--error-model", "design", "--error-rate", "0.1"},
            "--error-rate, --error-spread and --error-count go with"},
           {{"--error-model", "typo"}, "the error model is design, none, random-allele, dropout"},
           {{"--error-model", "dropout", "--error-rate", "0.1", "--error-spread", "beta:0"},
            "--error-spread takes beta:A with A above 0, got 'beta:0'"},
           {{"--error-model", "dropout", "--error-rate", "0.1", "--error-count", "some"},
            "--error-count takes exact"},
           {{"--missing-model", "random"}, "--missing-model random needs --call-rate"},
           {{"--call-rate", "0.9", "--missing-model", "design"},
            "--call-rate and its spreads go with --missing-model random"},
           {{"--error-model", "matrix:bad.tsv", "--alleles", "2", "--markers", "3"},
            "error matrix bad.tsv, line 2: the row sums to 1.1, not 1"},
           {{"--error-model", "matrix:short.tsv", "--alleles", "2"},
            "error matrix short.tsv, line 3: the row sums to 0.97, not 1"},
           {{"--error-model", "matrix:bad.tsv"}, "is for two-allele markers"},
       }) {
    std::vector<std::string> args = bad.args;
    args.insert(args.end(), {"2", "20", "5"});
    const auto result = test::run_pedsim(args, {dir.path(), "1"});
    EXPECT_EQ(result.status, 2) << bad.message;
    EXPECT_NE(result.err.find(bad.message), std::string::npos) << result.err;
  }
  for (const auto& [text, message] : std::vector<std::pair<std::string, std::string>>{
           {"1\t0\t0\n0\t1\t0\n", "needs three rows"},
           {"1\t0\n0\t1\t0\n0\t0\t1\n", "line 1: expected three tab-separated"},
           {"1\t0\t0\t0\n", "line 1, column 4: more than three columns"},
           {"1\tx\t0\n", "line 1, column 2: 'x' is not a probability"}}) {
    try {
      parse_error_matrix(text, "m.tsv");
      ADD_FAILURE() << text;
    } catch (const Stop& stop) {
      EXPECT_NE(stop.text().find(message), std::string::npos) << stop.text();
    }
  }
}

// ped.bed, read code by code, holds what the panel says was recorded (or is
// true): a panel of more than 64 words of markers, so that rows are filled
// in several rounds and the altered genotypes regrouped in several batches,
// with errors, missing genotypes and sample mix-ups.
TEST(RecordModels, BedHoldsThePanelsGenotypes) {
  RecordOptions r = with_call_rate(errors("random-allele", 0.05), 0.9);
  r.swap = 0.1;
  const Simulation run = run_with(snps(64 * 64 + 130), r, 3, 150, 15);
  const Panel& p = run.panel;
  const std::size_t row_bytes = (static_cast<std::size_t>(run.pedigree.created()) + 3) / 4;
  for (const Genotypes kind : {Genotypes::kRecorded, Genotypes::kTrue}) {
    struct Text : ByteSink {
      std::string bytes;
      void write(std::string_view b) override { bytes.append(b); }
    } bed;
    write_bed(run, kind, bed);
    ASSERT_EQ(bed.bytes.size(), 3 + row_bytes * static_cast<std::size_t>(p.markers()));
    std::int64_t wrong = 0;
    for (std::int32_t m = 0; m < p.markers(); ++m) {
      for (std::int32_t i = 1; i <= run.pedigree.created(); ++i) {
        const auto at = 3 + static_cast<std::size_t>(m) * row_bytes + (i - 1) / 4;
        const int code = (static_cast<unsigned char>(bed.bytes[at]) >> (2 * ((i - 1) % 4))) & 3;
        const bool recorded = kind == Genotypes::kRecorded;
        const std::int32_t a = recorded ? p.recorded_allele(i, m, 0) : p.true_allele(i, m, 0);
        const std::int32_t b = recorded ? p.recorded_allele(i, m, 1) : p.true_allele(i, m, 1);
        // PLINK's codes: 0 two copies of allele 2 (A1), 1 missing, 2 one, 3 none.
        const int copies = (a == 2) + (b == 2);
        const int expected = a == 0 ? 1 : (copies == 2 ? 0 : (copies == 1 ? 2 : 3));
        wrong += code != expected;
      }
    }
    EXPECT_EQ(wrong, 0) << (kind == Genotypes::kRecorded ? "recorded" : "true");
  }
}

}  // namespace
}  // namespace pedsim
