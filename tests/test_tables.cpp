// The tables of models, formats and pedigree readers: every row is in the
// usage and the README, and every rate model's kernels keep the promises
// the error layer relies on.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cli/command_line.hpp"
#include "models/error_kernels.hpp"
#include "pedsim/pedsim.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

// How the README and the usage name each row: "`--error-model dropout`".
std::vector<std::string> documented_rows() {
  std::vector<std::string> rows;
  for (const ErrorModel& m : error_models()) rows.push_back("--error-model " + m.usage_name());
  for (const MissingModel& m : missing_models()) {
    rows.push_back("--missing-model " + std::string(m.name));
  }
  for (const GenotypeFormat& f : genotype_formats())
    rows.push_back("--format " + std::string(f.name));
  return rows;
}

// The user guide and the reference, where every row and option is told.
std::string documentation() {
  return test::read_file(PEDSIM_GUIDE) + test::read_file(PEDSIM_REFERENCE);
}

TEST(Tables, EveryMarkerStatisticIsDocumented) {
  const std::string readme = documentation();
  for (const MarkerStatistic& s : marker_statistics()) {
    const std::string quoted = std::string("`").append(s.name).append("`");
    EXPECT_NE(readme.find(quoted), std::string::npos) << s.name;
  }
}

TEST(Tables, EveryRowIsDocumentedAndInTheUsage) {
  const std::string readme = documentation();
  const std::string usage = options_usage();
  for (const std::string& row : documented_rows()) {
    EXPECT_NE(readme.find("`" + row + "`"), std::string::npos) << "the documentation lacks " << row;
    const std::string name = row.substr(row.find(' ') + 1);
    EXPECT_NE(usage.find("  " + name + " "), std::string::npos) << "usage lacks " << row;
  }
}

// The reference's table of options names every option, and the manual page
// has each.
TEST(Tables, EveryOptionIsInTheReferenceAndTheManualPage) {
  const std::string reference = test::read_file(PEDSIM_REFERENCE);
  const std::string manual = manual_page();
  for (const Option& option : options()) {
    const std::string name(option.name);
    EXPECT_NE(reference.find("| `" + name), std::string::npos) << "the reference lacks " << name;
    std::string shown;
    for (const char c : name) shown += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_NE(manual.find(".B " + shown), std::string::npos) << "the manual lacks " << name;
  }
}

// A rate model changes a genotype exactly where it says it can, into a
// genotype of the marker's alleles, and its batch kernels (panels of one
// and of eight bits per allele) make the changes its single change makes.
TEST(Tables, RateKernelsAgreeWithTheirChange) {
  std::mt19937 numbers(7);
  for (const ErrorModel& model : error_models()) {
    const ErrorKernel& kernel = *model.kernel;
    if (kernel.kind != ErrorKernel::Kind::kRate) continue;
    for (const std::int32_t alleles : {2, 5}) {
      for (std::int32_t a = 1; a <= alleles; ++a) {
        for (std::int32_t b = 1; b <= alleles; ++b) {
          for (int k = 0; k < 64; ++k) {
            const auto [x, y] = kernel.change(static_cast<std::uint32_t>(numbers()), alleles, a, b);
            ASSERT_EQ(x != a || y != b, kernel.alters(a, b)) << model.name << " " << a << "/" << b;
            ASSERT_TRUE(x >= 1 && x <= alleles && y >= 1 && y <= alleles) << model.name;
          }
        }
      }
    }
    for (const int bits : {1, 8}) {
      const std::int32_t alleles = bits == 1 ? 2 : 5;
      constexpr std::int32_t kMarkers = 128;
      std::vector<std::uint64_t> sire(kMarkers * bits / 64);
      std::vector<std::uint64_t> dam(sire.size());
      std::vector<std::int32_t> markers;
      std::vector<std::uint32_t> draws;
      for (std::int32_t m = 0; m < kMarkers; ++m) {
        for (auto* side : {&sire, &dam}) {
          const auto allele = static_cast<std::uint64_t>(numbers() % alleles);
          const std::size_t bit = static_cast<std::size_t>(m) * bits;
          (*side)[bit / 64] |= allele << (bit % 64);
        }
        if (m % 3 == 0) continue;
        markers.push_back(m);
        draws.push_back(static_cast<std::uint32_t>(numbers()));
      }
      std::vector<AlteredCell> cells(markers.size());
      const BatchKernel batch = bits == 1 ? kernel.batch_one_bit : kernel.batch_eight_bits;
      const std::size_t kept = batch({nullptr, sire.data(), dam.data()}, alleles, markers.data(),
                                     draws.data(), markers.size(), cells.data());
      std::vector<AlteredCell> expected;
      for (std::size_t k = 0; k < markers.size(); ++k) {
        const std::size_t bit = static_cast<std::size_t>(markers[k]) * bits;
        const std::uint64_t code = bits == 1 ? 1 : 0xFF;
        const auto a = static_cast<std::int32_t>((sire[bit / 64] >> (bit % 64)) & code) + 1;
        const auto b = static_cast<std::int32_t>((dam[bit / 64] >> (bit % 64)) & code) + 1;
        const auto [x, y] = kernel.change(draws[k], alleles, a, b);
        if (x != a || y != b) {
          expected.push_back(
              {markers[k], static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y)});
        }
      }
      cells.resize(kept);
      EXPECT_EQ(cells, expected) << model.name << ", " << bits << " bits";
    }
  }
}

}  // namespace
}  // namespace pedsim
