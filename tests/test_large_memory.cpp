#include <gtest/gtest.h>

#include <vector>

#include "pedsim/pedsim.hpp"
#include "platform/large_memory.hpp"
#include "sim/column_storage.hpp"

namespace pedsim {
namespace {

TEST(LargeMemory, BlocksOfEverySizeAreZeroedAndWritable) {
  for (std::size_t bytes :
       {std::size_t{1}, std::size_t{4096}, std::size_t{3} << 20, (std::size_t{5} << 21) + 12345}) {
    auto* block = static_cast<unsigned char*>(allocate_zeroed(bytes));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[bytes - 1], 0);
    for (std::size_t i = 0; i < bytes; i += 4093) {
      ASSERT_EQ(block[i], 0);
      block[i] = 7;
    }
    block[bytes - 1] = 7;
    release_zeroed(block, bytes);
  }
}

// A mapped column and a small one from the ordinary heap, which need not
// start on a page boundary.
TEST(LargeMemory, PopulatingNeverChangesWhatTheRunWrites) {
  for (std::int32_t rows : {3 << 20, 50001}) {
    AnimalColumn column(rows);
    CodeColumn codes(rows);
    BackgroundPopulator populator;
    populator.start({{ColumnStorage::storage(column), ColumnStorage::bytes(column)},
                     {ColumnStorage::storage(codes), ColumnStorage::bytes(codes)}});
    for (std::int32_t i = 1; i <= rows; ++i) {
      column[i] = i;
      codes[i] = static_cast<std::int8_t>(i % 100);
    }
    populator.stop();
    for (std::int32_t i = 1; i <= rows; i += 997) {
      ASSERT_EQ(column[i], i);
      ASSERT_EQ(codes[i], i % 100);
    }
    EXPECT_EQ(column[rows], rows);
  }
}

TEST(LargeMemory, VectorsOverTheAllocatorGrowAndKeepTheirContents) {
  std::vector<std::int32_t, LargeAllocator<std::int32_t>> list;
  for (std::int32_t i = 0; i < 1 << 20; ++i) list.push_back(i);
  list.reserve(std::size_t{4} << 20);
  for (std::int32_t i = 0; i < 1 << 20; i += 4099) ASSERT_EQ(list[static_cast<std::size_t>(i)], i);
}

}  // namespace
}  // namespace pedsim
