// Pedigrees the user supplies: the reader's checks, its order, a bred
// pedigree read back, and genes dropped onto a supplied pedigree.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "pedsim/pedsim.hpp"
#include "support.hpp"

namespace {

// Whether a pedigree's names are its numbers 1..n in order.
bool names_are_numbers(const pedsim::SuppliedPedigree& p) {
  for (std::size_t a = 1; a < p.names.size(); ++a) {
    if (p.names[a] != std::to_string(a)) return false;
  }
  return true;
}

struct Refusal {
  std::string name;
  std::string text;
  std::string format;
  std::string message;
};

class PedigreeRefusal : public ::testing::TestWithParam<Refusal> {};

// Each fault stops with status 2 and one line naming the file and line.
TEST_P(PedigreeRefusal, StopsNamingFileAndLine) {
  const Refusal& c = GetParam();
  try {
    pedsim::parse_pedigree(c.text, "herd.txt", &pedsim::pedigree_format(c.format));
    FAIL() << "read";
  } catch (const pedsim::Stop& stop) {
    EXPECT_EQ(stop.status(), 2);
    EXPECT_EQ(stop.text(), "pedsim: pedigree file herd.txt, " + c.message + "\n");
  }
}

const std::string kTable = "table";

INSTANTIATE_TEST_SUITE_P(
    Table, PedigreeRefusal,
    ::testing::Values(
        Refusal{"TooFewColumns", "a 0 0\nb a\n", kTable,
                "line 2: 2 columns, a row needs 3 (animal, sire, dam)"},
        Refusal{"FamTooFewColumns", "f a 0 0\n", "fam",
                "line 1: 4 columns, a row needs 5 (family, animal, sire, dam, sex)"},
        Refusal{"Duplicate", "a 0 0\nb a 0\na 0 0\n", kTable,
                "line 3: animal a is listed again (first on line 1)"},
        Refusal{"OwnParent", "a 0 0\nb b a\n", kTable,
                "line 2: animal b is among its own ancestors: b has sire b (lines 2)"},
        Refusal{"Cycle", "x 0 0\na b x\nb c x\nc a x\n", kTable,
                "line 2: animal a is among its own ancestors: a has sire b has sire c has sire "
                "a (lines 2, 3, 4)"},
        Refusal{"SireAndDam", "s 0 0\nd 0 0\nk1 s d\nk2 d s\n", kTable,
                "line 4: d is the sire of k2 and the dam of k1 (line 3)"},
        Refusal{"SireRecordedFemale", "s 0 0 F\nd 0 0\nk s d\n", kTable,
                "line 3: s is the sire of k but recorded female (line 1)"},
        Refusal{"BadSex", "a 0 0 X\n", kTable,
                "line 1: sex 'X' is not 1, 2, M, F, male, female, 0, NA or '.'"},
        Refusal{"NulByte", std::string("a 0 0\nb a\0 0\n", 12), kTable,
                "line 2: byte 0x00 is not text"},
        Refusal{"LongName", "a 0 0\n" + std::string(256, 'n') + " a 0\n", kTable,
                "line 2: a name of 256 bytes, more than 255"},
        Refusal{"UnknownAnimalName", "NA 0 0\n", kTable,
                "line 1: the animal's name 'NA' means an unknown parent"},
        Refusal{"HeaderWithoutDam", "# herd\nanimal father birthyear\na 0 0\n", kTable,
                "line 2: the first row is neither a row of data nor a header naming the "
                "animal, sire and dam columns: it has no column dam (or mother)"},
        Refusal{"HeaderTwoSires", "id sire dam father\na 0 0 0\n", kTable,
                "line 1: the header names two father columns ('sire' and 'father')"}),
    [](const auto& info) { return info.param.name; });

// A header names the columns in any order, with the usual words; other
// columns are ignored and named; comments are skipped. Each file reads as
// the plain table of the same pedigree.
TEST(SuppliedPedigree, HeaderReadByItsColumnNames) {
  const auto plain = pedsim::parse_pedigree("s 0 0 M\nd 0 0 F\nk s d F\nj s x M\n", "herd.txt",
                                            &pedsim::pedigree_format("table"));
  const std::vector<std::tuple<std::string, std::vector<std::string>>> files{
      {"id dam sire sex\ns 0 0 M\nd 0 0 F\nk d s F\nj x s M\n", {}},
      {"# from the herd book\nID Dam Sire Birthyear Sex\ns 0 0 2001 M\nd 0 0 2001 F\n"
       "k d s 2004 F\nj x s 2005 M\n",
       {"Birthyear"}},
      {"Animal_ID Father_ID Mother_ID Gender herd\ns 0 0 M 1\nd 0 0 F 1\nk s d F 2\n"
       "j s x M 2\n",
       {"herd"}},
      {"calf mother father sex\ns 0 0 M\nd 0 0 F\nk d s F\nj x s M\n", {}},
  };
  for (const auto& [text, ignored] : files) {
    const auto p = pedsim::parse_pedigree(text, "herd.txt", nullptr);
    EXPECT_EQ(p.names, plain.names) << text;
    EXPECT_EQ(p.sire, plain.sire) << text;
    EXPECT_EQ(p.dam, plain.dam) << text;
    EXPECT_EQ(p.sex, plain.sex) << text;
    EXPECT_EQ(p.ignored_columns, ignored) << text;
    EXPECT_EQ(p.added_founder_names, std::vector<std::string>{"x"});
  }
}

// Files that list no animal stop naming the file; a byte-order mark is no
// part of the first name; a folder, a device or a NUL byte is refused.
TEST(SuppliedPedigree, InputFilesThatHoldNoPedigree) {
  pedsim::test::TempDir dir;
  const auto file = [&dir](const std::string& name, const std::string& text) {
    pedsim::test::write_file(dir.path() / name, text);
    return (dir.path() / name).string();
  };
  const std::string none =
      " lists no animal (no row of data: it is empty, or holds only blank "
      "lines, comments, a header or unbred rows)\n";
  for (const auto& [path, message] : std::vector<std::pair<std::string, std::string>>{
           {file("empty.txt", ""), none},
           {file("blank.txt", "\n  \n\t\n"), none},
           {file("header.txt", "# herd\nanimal sire dam\n"), none},
           {file("zeros.pre", "       0       0       0       0       0       0\n"), none},
           {dir.str(), ": it is a folder\n"},
           {"/dev/zero", ": it is a device; give a regular file\n"},
           {file("nul.txt", std::string("a 0 0\nb a 0\0\n", 13)),
            ", line 2: byte 0x00 is not text\n"}}) {
    try {
      pedsim::read_pedigree(path, nullptr);
      ADD_FAILURE() << path;
    } catch (const pedsim::Stop& stop) {
      EXPECT_EQ(stop.status(), 2);
      EXPECT_NE(stop.text().find(path + message), std::string::npos) << stop.text();
    }
  }
  const auto p = pedsim::read_pedigree(file("bom.txt", "\xEF\xBB\xBFs 0 0\nk s 0\n"), nullptr);
  EXPECT_EQ(p.names, (std::vector<std::string>{"", "s", "k"}));
  EXPECT_EQ(p.added_founders, 0);
}

// Offspring listed before their parents are put after them; unlisted
// parents become founders after the listed ones; CRLF, a header, blank
// lines and no final newline are read.
TEST(SuppliedPedigree, OrderedParentsFirstWithUnlistedParentsAsFounders) {
  const auto p = pedsim::parse_pedigree(
      "animal\tsire\tdam\tsex\r\ngrand\tcalf2\tcalf1\t2\r\n\r\ncalf1\tbull\tcow\tF\r\n"
      "calf2\tbull\tstray\tM\r\nbull\t0\t0\tM\r\nhalf\tbull\tNA",
      "herd.txt", nullptr);
  const std::vector<std::string> names{"",      "bull",  "cow",  "stray",
                                       "calf1", "calf2", "half", "grand"};
  EXPECT_EQ(p.names, names);
  EXPECT_EQ(p.sire, (std::vector<std::int32_t>{0, 0, 0, 0, 1, 1, 1, 5}));
  EXPECT_EQ(p.dam, (std::vector<std::int32_t>{0, 0, 0, 0, 2, 3, 0, 4}));
  EXPECT_EQ(p.sex, (std::vector<std::int32_t>{0, 1, 2, 2, 2, 1, 0, 2}));
  EXPECT_EQ(p.generation, (std::vector<std::int32_t>{0, 0, 0, 0, 1, 1, 1, 2}));
  EXPECT_EQ(p.added_founders, 2);
  EXPECT_FALSE(names_are_numbers(p));
}

// A bred run's ped.pre read back gives its pedigree (rows never bred are
// not animals), and dropping markers onto it keeps every allele of an
// offspring among its parent's, a parent unknown drawing as a founder.
TEST(SuppliedPedigree, BredPedigreeReadBackAndDroppedOnto) {
  const pedsim::Simulation bred =
      pedsim::simulate(pedsim::Parameters::make(5, 47, 6), pedsim::Seed{9});
  pedsim::StringSink pre;
  pedsim::write_outputs(bred, {.pedigree = &pre});
  auto p = pedsim::parse_pedigree(pre.text, "run/ped.pre", nullptr);
  ASSERT_EQ(p.animals(), bred.pedigree.created());
  EXPECT_TRUE(names_are_numbers(p));
  for (std::int32_t i = 1; i <= p.animals(); ++i) {
    const auto a = static_cast<std::size_t>(i);
    ASSERT_EQ(p.sire[a], bred.pedigree.sire[i]) << i;
    ASSERT_EQ(p.dam[a], bred.pedigree.dam[i]) << i;
    ASSERT_EQ(p.sex[a], bred.pedigree.sex[i]) << i;
    ASSERT_EQ(p.generation[a], bred.pedigree.born[i]) << i;
  }
  // As a plain table, listed parents first or last, a generation is 1 + the
  // larger of the parents'.
  std::string forward;
  std::string backward;
  std::vector<std::int32_t> expected(p.sire.size(), 0);
  const auto name = [](std::size_t a) {
    return a == 0 ? std::string("0") : std::string("x").append(std::to_string(a));
  };
  for (std::size_t a = 1; a < p.sire.size(); ++a) {
    const auto s = static_cast<std::size_t>(p.sire[a]);
    const auto d = static_cast<std::size_t>(p.dam[a]);
    if (s != 0 || d != 0) expected[a] = 1 + std::max(expected[s], expected[d]);
    std::string line = name(a);
    line.append(" ").append(name(s)).append(" ").append(name(d)).append("\n");
    forward += line;
    backward.insert(0, line);
  }
  for (const std::string& table : {forward, backward}) {
    const auto t = pedsim::parse_pedigree(table, "herd.txt", &pedsim::pedigree_format("table"));
    for (std::size_t a = 1; a < t.names.size(); ++a) {
      ASSERT_EQ(t.generation[a], expected[std::stoul(t.names[a].substr(1))]) << t.names[a];
    }
  }
  // Some offspring lose their dam: their second haplotype is a founder's.
  for (std::size_t a = 100; a < p.dam.size(); a += 7) p.dam[a] = 0;
  pedsim::MarkerOptions markers;
  markers.markers = 40;
  markers.alleles = 5;
  const pedsim::Simulation run = pedsim::simulate(p, pedsim::Seed{4}, {}, {}, markers);
  const pedsim::Panel& panel = run.panel;
  for (std::int32_t i = 1; i <= p.animals(); ++i) {
    for (int side = 0; side < 2; ++side) {
      const std::int32_t parent = side == 0 ? run.pedigree.sire[i] : run.pedigree.dam[i];
      for (std::int32_t m = 0; m < panel.markers(); ++m) {
        const std::int32_t allele = panel.true_allele(i, m, side);
        ASSERT_TRUE(allele >= 1 && allele <= 5);
        if (parent == 0) continue;
        ASSERT_TRUE(allele == panel.true_allele(parent, m, 0) ||
                    allele == panel.true_allele(parent, m, 1))
            << i << " " << m;
      }
    }
  }
}

}  // namespace

namespace {

// Pedigree errors change the recorded parents and exchange the records of
// pairs of genotyped animals, at their rates, wrong parents from the true
// parent's generation; the truth lists every change, and its exclusions are
// the markers where a wrong parent (any parent, for a swapped animal) and
// the animal share no allele. Under the design's error rule too, whose
// replacement codes move with the swapped records.
class PedigreeErrors : public ::testing::TestWithParam<std::string> {};

TEST_P(PedigreeErrors, RecordedParentsAndSamplesAloneChangeAtTheirRates) {
  const auto parameters = pedsim::Parameters::make(6, 3000, 300);
  pedsim::MarkerOptions markers;
  markers.markers = 200;
  markers.alleles = 2;
  pedsim::RecordOptions records;
  records.error_model = GetParam();
  if (!records.is_design_errors()) records.error_rate = 0.01;
  const pedsim::Simulation truth =
      pedsim::simulate(parameters, pedsim::Seed{8}, {}, {}, markers, records);
  records.wrong_sire = 0.12;
  records.missing_dam = 0.07;
  records.swap = 0.05;
  const pedsim::Simulation run =
      pedsim::simulate(parameters, pedsim::Seed{8}, {}, {}, markers, records);
  const pedsim::Panel& a = truth.panel;
  const pedsim::Panel& b = run.panel;
  std::int64_t offspring = 0;
  std::int64_t wrong = 0;
  std::int64_t missing = 0;
  std::int64_t genotyped = 0;
  std::int64_t swapped = 0;
  std::size_t next_change = 0;
  for (std::int32_t i = 1; i <= run.pedigree.created(); ++i) {
    const std::int32_t sample = b.sample(i);
    ASSERT_EQ(b.sample(sample), i);
    genotyped += a.lost(i) ? 0 : 1;
    swapped += sample != i ? 1 : 0;
    ASSERT_TRUE(sample == i || !a.lost(sample));
    for (std::int32_t m = 0; m < b.markers(); m += 17) {
      for (int side = 0; side < 2; ++side) {
        ASSERT_EQ(a.true_allele(i, m, side), b.true_allele(i, m, side));
        ASSERT_EQ(a.recorded_allele(sample, m, side), b.recorded_allele(i, m, side));
      }
    }
    const std::int32_t sire = truth.pedigree.sire[i];
    const std::int32_t dam = truth.pedigree.dam[i];
    const bool changed = run.pedigree.sire[i] != sire || run.pedigree.dam[i] != dam || sample != i;
    ASSERT_EQ(changed, next_change < run.pedigree_changes.size() &&
                           run.pedigree_changes[next_change].animal == i);
    if (changed) {
      const pedsim::PedigreeChange& c = run.pedigree_changes[next_change++];
      ASSERT_EQ(c.true_sire, sire);
      ASSERT_EQ(c.true_dam, dam);
    }
    if (sire == 0) continue;
    ++offspring;
    const std::int32_t recorded = run.pedigree.sire[i];
    if (recorded != sire) {
      ++wrong;
      ASSERT_EQ(run.pedigree.sex[recorded], pedsim::kMale);
      ASSERT_EQ(run.pedigree.born[recorded], run.pedigree.born[sire]);
      ASSERT_LT(recorded, i);
    }
    ASSERT_TRUE(run.pedigree.dam[i] == dam || run.pedigree.dam[i] == 0);
    missing += run.pedigree.dam[i] == 0 ? 1 : 0;
  }
  for (const auto& [count, n, p] :
       {std::tuple{wrong, offspring, 0.12}, std::tuple{missing, offspring, 0.07},
        std::tuple{swapped, genotyped, 0.05}}) {
    const double trials = static_cast<double>(n);
    EXPECT_NEAR(static_cast<double>(count), trials * p, 4 * std::sqrt(trials * p * (1 - p)) + 1);
  }
  pedsim::test::TempDir dir;
  pedsim::write_files(run, dir.str());
  const auto lines =
      pedsim::test::split_lines(pedsim::test::read_file(dir.path() / "pedigree_truth.tsv"));
  ASSERT_EQ(lines.size(), run.pedigree_changes.size() + 1);
  std::int64_t excluded = 0;
  for (std::size_t k = 1; k < lines.size(); ++k) {
    const auto f = pedsim::test::words(lines[k]);
    const pedsim::PedigreeChange& c = run.pedigree_changes[k - 1];
    ASSERT_EQ(f[0], std::to_string(c.animal));
    ASSERT_EQ(f[3], std::to_string(c.recorded_sire));
    const bool mixed_up = c.sample != c.animal;
    ASSERT_EQ(f[5].find("swap") != std::string::npos, mixed_up);
    ASSERT_EQ(f[7], mixed_up ? std::to_string(c.sample) : "0");
    std::int64_t expected = 0;
    for (const auto& [truth_parent, parent] :
         {std::pair{c.true_sire, c.recorded_sire}, std::pair{c.true_dam, c.recorded_dam}}) {
      if (parent == 0 || (parent == truth_parent && !mixed_up)) continue;
      for (std::int32_t m = 0; m < b.markers(); ++m) {
        const std::int32_t x = b.recorded_allele(c.animal, m, 0);
        const std::int32_t y = b.recorded_allele(c.animal, m, 1);
        const std::int32_t p = b.recorded_allele(parent, m, 0);
        const std::int32_t q = b.recorded_allele(parent, m, 1);
        if (x && y && p && q && x != p && x != q && y != p && y != q) ++expected;
      }
    }
    ASSERT_EQ(f[6], std::to_string(expected)) << lines[k];
    excluded += expected;
  }
  EXPECT_GT(excluded, 0);
}

INSTANTIATE_TEST_SUITE_P(ErrorModels, PedigreeErrors, ::testing::Values("random-allele", "design"),
                         [](const auto& info) {
                           return info.param == "design" ? std::string("Design")
                                                         : std::string("RandomAllele");
                         });

}  // namespace

namespace {

// --genotyped: exactly the animals listed have records; a name the
// pedigree lacks stops naming the file and line.
TEST(SuppliedPedigree, GenotypedAnimalsAloneHaveRecords) {
  pedsim::test::TempDir dir;
  auto p = pedsim::parse_pedigree("b 0 0\nc 0 0\nk b c\nq k c\n", "herd.txt",
                                  &pedsim::pedigree_format("table"));
  pedsim::test::write_file(dir.path() / "typed.txt", "q\r\n\nb\n");
  pedsim::read_genotyped((dir.path() / "typed.txt").string(), p);
  pedsim::MarkerOptions markers;
  markers.markers = 3;
  const pedsim::Simulation run = pedsim::simulate(p, pedsim::Seed{1}, {}, {}, markers);
  for (std::int32_t i = 1; i <= 4; ++i) {
    EXPECT_EQ(run.panel.lost(i), run.names[static_cast<std::size_t>(i)] != "q" &&
                                     run.names[static_cast<std::size_t>(i)] != "b")
        << i;
  }
  pedsim::test::write_file(dir.path() / "typed.txt", "q\nz\n");
  try {
    pedsim::read_genotyped((dir.path() / "typed.txt").string(), p);
    FAIL() << "read";
  } catch (const pedsim::Stop& stop) {
    EXPECT_EQ(stop.text(), "pedsim: genotyped file " + (dir.path() / "typed.txt").string() +
                               ", line 2: z is not an animal of the pedigree\n");
  }
}

}  // namespace
