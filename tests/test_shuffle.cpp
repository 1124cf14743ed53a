#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "core/shuffle.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

std::vector<std::int32_t> sorted_values(const std::vector<double>& keys,
                                        const std::vector<double>& values) {
  KeyMatrix m(static_cast<std::int32_t>(keys.size()), 2);
  for (std::size_t r = 0; r < keys.size(); ++r) {
    m.at(static_cast<std::int32_t>(r + 1), 1) = keys[r];
    m.at(static_cast<std::int32_t>(r + 1), 2) = values[r];
  }
  sortmat2(m, 1);
  std::vector<std::int32_t> out;
  for (std::int32_t r = 1; r <= m.nrow(); ++r) out.push_back(static_cast<std::int32_t>(m.at(r, 2)));
  return out;
}

TEST(Sortmat2, EqualKeysArePlacedBySelection) {
  EXPECT_EQ(sorted_values({3, 3, 1}, {101, 102, 103}), (std::vector<std::int32_t>{103, 102, 101}));
  EXPECT_EQ(sorted_values({3, 1, 3}, {101, 102, 103}), (std::vector<std::int32_t>{102, 101, 103}));
  EXPECT_EQ(sorted_values({0.7, 0.2, 0.5, 0.2}, {11, 12, 13, 14}),
            (std::vector<std::int32_t>{12, 14, 13, 11}));
  EXPECT_EQ(sorted_values({}, {}), std::vector<std::int32_t>{});
  EXPECT_EQ(sorted_values({0.4}, {9}), std::vector<std::int32_t>{9});
}

TEST(Sortmat2, MovesWholeRowsOnAnyKeyColumn) {
  KeyMatrix m(3, 3);
  const double rows[3][3] = {{10, 0.9, 100}, {20, 0.1, 200}, {30, 0.5, 300}};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) m.at(r + 1, c + 1) = rows[r][c];
  }
  sortmat2(m, 2);
  const double expected[3][3] = {{20, 0.1, 200}, {30, 0.5, 300}, {10, 0.9, 100}};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(m.at(r + 1, c + 1), expected[r][c]);
  }
}

TEST(RandomPermu, SmallListsAndDrawCounts) {
  UniformStream stream(12345, 67890);
  std::vector<std::int32_t> empty;
  random_permu(empty, stream);
  EXPECT_EQ(stream.draws(), 0U);

  std::vector<std::int32_t> one{42};
  random_permu(one, stream);
  EXPECT_EQ(one, std::vector<std::int32_t>{42});
  EXPECT_EQ(stream.draws(), 1U);

  for (int trial = 0; trial < 50; ++trial) {
    UniformStream peek = stream;
    const double x1 = peek.draw_uniform();
    const double x2 = peek.draw_uniform();
    std::vector<std::int32_t> two{1, 2};
    random_permu(two, stream);
    EXPECT_EQ(two, x2 < x1 ? (std::vector<std::int32_t>{2, 1}) : (std::vector<std::int32_t>{1, 2}));
  }
}

// The literal shuffle with the keys given as stream integers.
std::vector<std::int32_t> literal_order(const std::vector<std::int32_t>& list,
                                        const std::vector<std::uint32_t>& keys) {
  std::vector<double> key_values;
  std::vector<double> values;
  for (std::size_t i = 0; i < list.size(); ++i) {
    key_values.push_back(UniformStream::to_uniform(static_cast<std::int32_t>(keys[i])));
    values.push_back(list[i]);
  }
  return sorted_values(key_values, values);
}

std::vector<std::int32_t> fast_prefix(const std::vector<std::int32_t>& list,
                                      const std::vector<std::uint32_t>& keys, std::size_t count) {
  ShuffleScratch scratch;
  scratch.keys.assign(keys.begin(), keys.end());
  std::vector<std::int32_t> out(count);
  select_prefix_by_keys(list, scratch, out);
  return out;
}

std::vector<std::int32_t> increasing_animals(std::size_t n, std::mt19937& rng) {
  std::vector<std::int32_t> list(n);
  std::int32_t animal = 0;
  for (auto& a : list) a = animal += 1 + static_cast<std::int32_t>(rng() % 3);
  return list;
}

// Keys drawn from a small pool of values, so that equal keys are everywhere;
// the pool spans the whole key range so ties fall into many buckets.
std::vector<std::uint32_t> tied_keys(std::size_t n, std::size_t distinct, std::mt19937& rng) {
  std::vector<std::uint32_t> pool(distinct);
  for (auto& v : pool) v = 1 + rng() % static_cast<std::uint32_t>(UniformStream::kZMax);
  std::vector<std::uint32_t> keys(n);
  for (auto& k : keys) k = pool[rng() % distinct];
  return keys;
}

TEST(ShufflePrefix, MatchesTheLiteralShuffleWithHeavyTies) {
  std::mt19937 rng(20261208);
  for (int trial = 0; trial < 3000; ++trial) {
    const std::size_t n = trial < 2900 ? rng() % 120 : 500 + rng() % 2500;
    const std::size_t distinct = 1 + rng() % (trial % 3 == 0 ? 3 : 40);
    const auto list = increasing_animals(n, rng);
    const auto keys = tied_keys(n, distinct, rng);
    const auto full = literal_order(list, keys);
    for (std::size_t count : {n, n / 2, n == 0 ? 0 : rng() % (n + 1)}) {
      const auto prefix = fast_prefix(list, keys, count);
      ASSERT_EQ(prefix, std::vector<std::int32_t>(full.begin(), full.begin() + count))
          << "trial " << trial << " n " << n << " count " << count;
    }
  }
}

TEST(ShufflePrefix, MatchesRandomPermuOnTheRealStream) {
  std::mt19937 rng(7);
  ShuffleScratch scratch;  // reused, as parent selection reuses it
  for (int trial = 0; trial < 300; ++trial) {
    const std::size_t n = trial < 280 ? rng() % 400 : 2000 + rng() % 1000;
    const std::size_t count = n == 0 ? 0 : rng() % (n + 1);
    const auto list = increasing_animals(n, rng);
    UniformStream literal_stream;
    literal_stream.seed_from_sum(static_cast<std::int32_t>(rng()));
    UniformStream fast_stream = literal_stream;

    std::vector<std::int32_t> literal(list);
    random_permu(literal, literal_stream);
    std::vector<std::int32_t> fast(count);
    shuffle_prefix(list, fast, fast_stream, scratch);

    ASSERT_EQ(fast, std::vector<std::int32_t>(literal.begin(), literal.begin() + count));
    ASSERT_EQ(fast_stream.draws(), n);
    ASSERT_EQ(fast_stream.s1(), literal_stream.s1());
    ASSERT_EQ(fast_stream.s2(), literal_stream.s2());
  }
}

TEST(ShufflePrefix, AnyKeyBoundGivesTheLiteralOrder) {
  std::mt19937 rng(99);
  ShuffleScratch scratch;
  for (int trial = 0; trial < 600; ++trial) {
    const std::size_t n = rng() % 300;
    const std::size_t count = n == 0 ? 0 : rng() % (n + 1);
    const auto list = increasing_animals(n, rng);
    // A bound that forces the second drawing, one that keeps every key, and
    // one anywhere in between.
    const std::uint64_t bounds[] = {1, std::uint64_t{UniformStream::kZMax} + 1,
                                    1 + rng() % static_cast<std::uint32_t>(UniformStream::kZMax)};
    const std::uint64_t bound = bounds[trial % 3];
    UniformStream literal_stream;
    literal_stream.seed_from_sum(static_cast<std::int32_t>(rng()));
    UniformStream bounded_stream = literal_stream;

    std::vector<std::int32_t> literal(list);
    random_permu(literal, literal_stream);
    std::vector<std::int32_t> bounded(count);
    shuffle_prefix_bounded(list, bounded, bounded_stream, scratch, bound);
    ASSERT_EQ(bounded, std::vector<std::int32_t>(literal.begin(), literal.begin() + count))
        << "trial " << trial << " bound " << bound;
    ASSERT_EQ(bounded_stream.s1(), literal_stream.s1());
    ASSERT_EQ(bounded_stream.draws(), n);
  }
}

TEST(ShufflePrefix, LongListsMatchTheExactSelectionOverAllKeys) {
  // Long enough to be drawn in several blocks and to use the statistical bound.
  std::mt19937 rng(5);
  const auto list = increasing_animals(720123, rng);
  ShuffleScratch scratch;
  for (std::size_t count :
       {std::size_t{0}, std::size_t{1}, std::size_t{20000}, std::size_t{180000}, list.size()}) {
    UniformStream fast_stream;
    fast_stream.seed_from_sum(static_cast<std::int32_t>(count) + 11);
    UniformStream exact_stream = fast_stream;
    std::vector<std::int32_t> fast(count);
    shuffle_prefix(list, fast, fast_stream, scratch);

    ShuffleScratch exact_scratch;
    exact_scratch.keys.resize(list.size());
    exact_stream.fill_z(exact_scratch.keys);
    std::vector<std::int32_t> exact(count);
    select_prefix_by_keys(list, exact_scratch, exact);
    ASSERT_EQ(fast, exact) << count;
    ASSERT_EQ(fast_stream.draws(), exact_stream.draws());
    ASSERT_EQ(fast_stream.s2(), exact_stream.s2());
  }
}

TEST(ShufflePrefix, TieBetweenARowPassedOverAndARowBelow) {
  // A row with a larger key at the front moves down past a tied pair: the
  // tied rows keep the order of their current positions, not of the list.
  const std::vector<std::int32_t> list{1, 2, 3, 4};
  const std::vector<std::uint32_t> keys{9, 5, 5, 1};
  EXPECT_EQ(fast_prefix(list, keys, 4), literal_order(list, keys));
  EXPECT_EQ(fast_prefix(list, keys, 4), (std::vector<std::int32_t>{4, 2, 3, 1}));
  const std::vector<std::uint32_t> moved{5, 9, 5, 1};
  EXPECT_EQ(fast_prefix(list, moved, 4), literal_order(list, moved));
}

TEST(ShufflePrefix, RefusesMoreEntriesThanListed) {
  const std::vector<std::int32_t> list{1, 2};
  ShuffleScratch scratch;
  scratch.keys = {5, 6};
  std::vector<std::int32_t> out(3);
  EXPECT_THROW(select_prefix_by_keys(list, scratch, out), std::invalid_argument);
}

TEST(ShufflePrefix, TheDesignExample) {
  // Keys 0.61, 0.07, 0.93, 0.35, 0.50, 0.12, 0.88 as stream integers.
  const std::vector<std::int32_t> males{1, 2, 3, 4, 5, 22, 25};
  std::vector<std::uint32_t> keys;
  for (double x : {0.61, 0.07, 0.93, 0.35, 0.50, 0.12, 0.88}) {
    keys.push_back(static_cast<std::uint32_t>(test::last_z_at_or_below(x)));
  }
  EXPECT_EQ(fast_prefix(males, keys, 5), (std::vector<std::int32_t>{2, 22, 4, 5, 1}));
}

}  // namespace
}  // namespace pedsim
