#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace pedsim {

// The layers of a run beyond the design's rules, each drawing from a stream
// of its own.
enum class Layer : std::uint32_t {
  kMarkers = 1,
  kGenotypeErrors = 2,
  kMissingData = 3,
  kPedigreeErrors = 4,
  kSampleSwaps = 5,
};

// The stream of one layer: Philox 4x32-10 (Random123), a counter-based
// generator keyed by the run's seed, its replicate and the layer. The
// design's stream is never touched, so switching a layer on changes neither
// the pedigree nor another layer's numbers; number k of a layer is had
// without drawing the ones before it, which splits a layer's work over
// threads without jump arithmetic; and replicates are keys apart, never
// overlapping pieces of one sequence.
// The key of a layer's generator.
std::array<std::uint32_t, 2> layer_key(std::int32_t seed, std::int32_t replicate, Layer layer);

class LayerStream {
 public:
  LayerStream(std::int32_t seed, std::int32_t replicate, Layer layer);
  // One of the layer's many streams, told apart by a row (an animal, or 0
  // for the layer's own draws) and a lane (what the numbers are for): each is
  // had from its start whatever else the layer draws, so a rule's numbers
  // for one animal or marker never depend on how many others there are.
  LayerStream(std::int32_t seed, std::int32_t replicate, Layer layer, std::uint32_t row,
              std::uint32_t lane);

  // The next 32 random bits.
  std::uint32_t next_bits() {
    if (used_ == block_.size()) refill();
    return block_[used_++];
  }
  // A uniform number in (0, 1): 53 random bits and a half.
  double next_uniform() {
    const std::uint64_t high = next_bits() >> 5;
    const std::uint64_t low = next_bits() >> 6;
    return (static_cast<double>((high << 26) | low) + 0.5) * 0x1.0p-53;
  }
  // Passes over the next n numbers without making them.
  void skip(std::uint64_t n) {
    const std::uint64_t left = block_.size() - used_;
    if (n < left) {
      used_ += n;
      return;
    }
    n -= left;
    block_index_ += n / block_.size();
    used_ = block_.size();
    if (n % block_.size() == 0) return;
    refill();
    used_ = n % block_.size();
  }

 private:
  void refill();

  std::array<std::uint32_t, 2> key_;
  std::uint32_t row_ = 0;
  std::uint32_t lane_ = 0;
  std::uint64_t block_index_ = 0;
  std::array<std::uint32_t, 4> block_{};
  std::size_t used_ = 4;
};

}  // namespace pedsim
