#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "platform/helper_thread.hpp"

namespace pedsim {
namespace {

// One helper serves many pieces of work in turn, on a thread of its own.
TEST(HelperThread, RunsEachPieceBesideThisThread) {
  HelperThread helper;
  int first_runs = 0;
  int second_runs = 0;
  for (int piece = 0; piece < 100; ++piece) {
    std::thread::id helper_id;
    helper.side_by_side([&] { ++first_runs; },
                        [&] {
                          ++second_runs;
                          helper_id = std::this_thread::get_id();
                        });
    ASSERT_NE(helper_id, std::this_thread::get_id());
  }
  EXPECT_EQ(first_runs, 100);
  EXPECT_EQ(second_runs, 100);
}

// A failure is rethrown only once both pieces have ended, the first's before
// the second's, and the helper serves the next piece as before.
TEST(HelperThread, FailuresAreRethrownAfterBothEnd) {
  struct Case {
    bool first_fails, second_fails;
    std::string expected;
  };
  HelperThread helper;
  for (const Case& c :
       {Case{true, false, "first"}, Case{false, true, "second"}, Case{true, true, "first"}}) {
    bool first_ended = false;
    bool second_ended = false;
    try {
      helper.side_by_side(
          [&] {
            first_ended = true;
            if (c.first_fails) throw std::runtime_error("first");
          },
          [&] {
            second_ended = true;
            if (c.second_fails) throw std::runtime_error("second");
          });
      FAIL() << "no failure rethrown";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), c.expected);
    }
    EXPECT_TRUE(first_ended && second_ended);
  }
  int after = 0;
  helper.side_by_side([&] { ++after; }, [&] { ++after; });
  EXPECT_EQ(after, 2);
}

}  // namespace
}  // namespace pedsim
