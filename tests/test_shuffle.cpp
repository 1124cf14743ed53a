#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "reference/literal.hpp"
#include "sim/shuffle.hpp"
#include "support.hpp"

namespace pedsim {
namespace {

using reference::KeyMatrix;

std::vector<std::int32_t> sorted_values(const std::vector<double>& keys,
                                        const std::vector<double>& values) {
  KeyMatrix m(static_cast<std::int32_t>(keys.size()), 2);
  for (std::size_t r = 0; r < keys.size(); ++r) {
    m.at(static_cast<std::int32_t>(r + 1), 1) = keys[r];
    m.at(static_cast<std::int32_t>(r + 1), 2) = values[r];
  }
  reference::selection_sort_rows(m, 1);
  std::vector<std::int32_t> out;
  for (std::int32_t r = 1; r <= m.nrow(); ++r) out.push_back(static_cast<std::int32_t>(m.at(r, 2)));
  return out;
}

// The reference itself, on the worked examples: equal keys are placed by the
// selection steps, not kept stable.
TEST(SelectionSort, EqualKeysArePlacedBySelection) {
  EXPECT_EQ(sorted_values({3, 3, 1}, {101, 102, 103}), (std::vector<std::int32_t>{103, 102, 101}));
  EXPECT_EQ(sorted_values({3, 1, 3}, {101, 102, 103}), (std::vector<std::int32_t>{102, 101, 103}));
  EXPECT_EQ(sorted_values({0.7, 0.2, 0.5, 0.2}, {11, 12, 13, 14}),
            (std::vector<std::int32_t>{12, 14, 13, 11}));
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

TEST(ShufflePrefix, TieBetweenARowPassedOverAndARowBelow) {
  // A row with a larger key at the front moves down past a tied pair: the
  // tied rows keep the order of their current positions, not of the list.
  const std::vector<std::int32_t> list{1, 2, 3, 4};
  EXPECT_EQ(fast_prefix(list, {9, 5, 5, 1}, 4), (std::vector<std::int32_t>{4, 2, 3, 1}));
  EXPECT_EQ(fast_prefix(list, {5, 9, 5, 1}, 4), literal_order(list, {5, 9, 5, 1}));
}

TEST(ShufflePrefix, TheWorkedExample) {
  // Keys 0.61, 0.07, 0.93, 0.35, 0.50, 0.12, 0.88 as stream integers.
  const std::vector<std::int32_t> males{1, 2, 3, 4, 5, 22, 25};
  std::vector<std::uint32_t> keys;
  for (double x : {0.61, 0.07, 0.93, 0.35, 0.50, 0.12, 0.88}) {
    keys.push_back(static_cast<std::uint32_t>(test::last_z_at_or_below(x)));
  }
  EXPECT_EQ(fast_prefix(males, keys, 5), (std::vector<std::int32_t>{2, 22, 4, 5, 1}));
}

// Whatever bound keeps keys while drawing (one that forces the second
// drawing, one that keeps every key, any in between), the stream gives the
// literal shuffle's order and draws one number per element.
TEST(ShufflePrefix, AnyKeyBoundGivesTheLiteralOrderOnTheStream) {
  std::mt19937 rng(99);
  ShuffleScratch scratch;  // reused, as parent selection reuses it
  for (int trial = 0; trial < 600; ++trial) {
    const std::size_t n = trial < 580 ? rng() % 300 : 2000 + rng() % 1000;
    const std::size_t count = n == 0 ? 0 : rng() % (n + 1);
    const auto list = increasing_animals(n, rng);
    const std::uint64_t bounds[] = {1, std::uint64_t{UniformStream::kZMax} + 1,
                                    1 + rng() % static_cast<std::uint32_t>(UniformStream::kZMax),
                                    shuffle_key_bound(n, count)};
    const std::uint64_t bound = bounds[trial % 4];
    UniformStream literal_stream;
    literal_stream.seed_from_sum(static_cast<std::int32_t>(rng()));
    UniformStream fast_stream = literal_stream;

    std::vector<std::int32_t> literal(list);
    reference::shuffle_literally(literal, literal_stream);
    std::vector<std::int32_t> fast(count);
    shuffle_prefix_bounded(list, fast, fast_stream, scratch, bound);
    ASSERT_EQ(fast, std::vector<std::int32_t>(literal.begin(), literal.begin() + count))
        << "trial " << trial << " bound " << bound;
    ASSERT_EQ(fast_stream.s1(), literal_stream.s1());
    ASSERT_EQ(fast_stream.s2(), literal_stream.s2());
    ASSERT_EQ(fast_stream.draws(), n);
  }
}

// Long enough to be drawn in several blocks and to use the statistical
// bound: the same as selecting among all keys drawn at once.
TEST(ShufflePrefix, LongListsMatchTheSelectionOverAllKeys) {
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

    std::vector<std::uint32_t> keys(list.size());
    exact_stream.fill_z(keys);
    ASSERT_EQ(fast, fast_prefix(list, keys, count)) << count;
    ASSERT_EQ(fast_stream.s2(), exact_stream.s2());
  }
}

// Two long lists shuffled side by side, the second's keys split between the
// threads, give what one shuffle after the other gives.
TEST(ShufflePrefixesInTurn, SideBySideMatchesOneAfterTheOther) {
  std::mt19937 rng(17);
  struct Sizes {
    std::size_t first, first_wanted, second, second_wanted;
  };
  // Every key kept; bounded keys over several blocks; a second list much
  // longer than the first, so that the helper takes part of its keys.
  for (const Sizes& c : {Sizes{140000, 1000, 139000, 139000}, Sizes{70000, 5000, 300000, 45000},
                         Sizes{20000, 100, 400000, 300000}}) {
    const auto first = increasing_animals(c.first, rng);
    const auto second = increasing_animals(c.second, rng);
    UniformStream paired;
    paired.seed_from_sum(static_cast<std::int32_t>(c.second));
    UniformStream in_turn = paired;
    ShufflePairScratch pair_scratch;
    std::vector<std::int32_t> first_out(c.first_wanted), second_out(c.second_wanted);
    HelperThread helper;
    shuffle_prefixes_in_turn(first, first_out, second, second_out, paired, pair_scratch, helper);

    ShuffleScratch scratch;
    std::vector<std::int32_t> first_expected(c.first_wanted), second_expected(c.second_wanted);
    shuffle_prefix(first, first_expected, in_turn, scratch);
    shuffle_prefix(second, second_expected, in_turn, scratch);
    ASSERT_EQ(first_out, first_expected);
    ASSERT_EQ(second_out, second_expected);
    ASSERT_EQ(paired.s1(), in_turn.s1());
    ASSERT_EQ(paired.s2(), in_turn.s2());
    ASSERT_EQ(paired.draws(), in_turn.draws());
  }
}

}  // namespace
}  // namespace pedsim
