#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "random/layer_stream.hpp"
#include "random/layer_words.hpp"

namespace pedsim {
namespace {

// Pearson's chi-square of counts against equal expectations.
template <std::size_t N>
double chi_square(const std::array<double, N>& counts, double total) {
  double sum = 0;
  for (const double c : counts) sum += std::pow(c - total / N, 2) / (total / N);
  return sum;
}

// Uniform numbers in 100 classes, and pairs of numbers of two layers of one
// run (or of two replicates) in a 10 x 10 table, against the 0.9999
// quantiles of chi-square with 99 degrees of freedom (160.0) and 81
// (137.8): a sound generator exceeds them once in 10^4 seeds.
TEST(LayerStream, UniformAndIndependentAcrossLayersAndReplicates) {
  constexpr int kDraws = 1000000;
  LayerStream errors(74565, 3, Layer::kGenotypeErrors);
  std::array<double, 100> classes{};
  for (int k = 0; k < kDraws; ++k) {
    const double x = errors.next_uniform();
    ASSERT_TRUE(x > 0 && x < 1);
    classes[static_cast<std::size_t>(x * 100)] += 1;
  }
  EXPECT_LT(chi_square(classes, kDraws), 160.0);
  for (const auto& [a, b] : {std::pair{LayerStream(74565, 3, Layer::kMarkers),
                                       LayerStream(74565, 3, Layer::kMissingData)},
                             std::pair{LayerStream(74565, 3, Layer::kMarkers),
                                       LayerStream(74565, 4, Layer::kMarkers)}}) {
    LayerStream first = a;
    LayerStream second = b;
    std::array<double, 100> pairs{};
    for (int k = 0; k < kDraws; ++k) {
      const auto i = static_cast<std::size_t>(first.next_uniform() * 10);
      pairs[i * 10 + static_cast<std::size_t>(second.next_uniform() * 10)] += 1;
    }
    EXPECT_LT(chi_square(pairs, kDraws), 137.8);
  }
}

// The bulk fill, run a vector of blocks at a time, gives a stream's numbers
// exactly as they come one by one.
TEST(LayerStream, BulkWordsAreTheStreamsNumbers) {
  std::array<std::uint64_t, 38> words{};
  fill_layer_words(layer_key(-9, 12, Layer::kMarkers), 777, 5, 3, words.data(), words.size() / 2);
  LayerStream stream(-9, 12, Layer::kMarkers, 777, 5);
  for (int k = 0; k < 3 * 4; ++k) stream.next_bits();
  for (const std::uint64_t word : words) {
    const std::uint64_t low = stream.next_bits();
    ASSERT_EQ(word, low | (std::uint64_t{stream.next_bits()} << 32));
  }
}

}  // namespace
}  // namespace pedsim
