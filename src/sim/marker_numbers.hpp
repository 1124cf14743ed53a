#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "pedsim/markers.hpp"
#include "random/layer_words.hpp"

namespace pedsim {

// The 32-bit numbers of one of a layer's streams that go with the markers
// of a map, number k of the stream with marker k of the whole map: a part
// of a map split by chromosome reads the numbers of its own markers.
class MarkerNumbers {
 public:
  MarkerNumbers(const std::array<std::uint32_t, 2>& key, const MarkerMap& map)
      : key_(key), map_(map), markers_(static_cast<std::size_t>(map.size())) {}

  // The numbers of stream (row, lane) for markers 0..size-1, and a few past.
  const std::uint32_t* of(std::uint32_t row, std::uint32_t lane) {
    const std::size_t low = map_.is_part() ? static_cast<std::size_t>(map_.in_whole(0)) : 0;
    const std::size_t high =
        map_.is_part() ? static_cast<std::size_t>(map_.in_whole(map_.size() - 1)) + 1 : markers_;
    const std::size_t first_block = low / 4;
    const std::size_t blocks = (high + 3) / 4 - first_block;
    words_.resize(2 * blocks + 2);
    fill_layer_words(key_, row, lane, static_cast<std::uint32_t>(first_block), words_.data(),
                     blocks);
    const auto* numbers = reinterpret_cast<const std::uint32_t*>(words_.data()) + (low % 4);
    if (!map_.is_part() || high - low == markers_) return numbers;
    gathered_.resize((markers_ + 3) / 4 * 4);
    for (std::size_t m = 0; m < markers_; ++m) {
      gathered_[m] =
          numbers[static_cast<std::size_t>(map_.in_whole(static_cast<std::int32_t>(m))) - low];
    }
    return gathered_.data();
  }

 private:
  std::array<std::uint32_t, 2> key_;
  const MarkerMap& map_;
  std::size_t markers_;
  std::vector<std::uint64_t> words_;
  std::vector<std::uint32_t> gathered_;
};

}  // namespace pedsim
