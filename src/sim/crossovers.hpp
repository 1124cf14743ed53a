#pragma once

#include <cmath>
#include <cstdint>

#include "pedsim/parameters.hpp"
#include "random/layer_stream.hpp"
#include "sim/panel_lanes.hpp"

namespace pedsim {

// Centimorgans per Morgan: crossovers come at rate 1 per Morgan.
inline constexpr double kCentimorgansPerMorgan = 100;

// One meiosis along one chromosome, by Haldane's map: the haplotype it
// starts on, then its crossovers in order, exponential gaps of mean one
// Morgan apart, from the marker layer's stream of the child, the meiosis and
// the chromosome. A marker before a crossover's position takes the side
// before it. The gene drop and the tracing of segments read the same
// crossovers from here.
class Crossovers {
 public:
  Crossovers(const Seed& seed, std::int32_t child, PanelDraw meiosis, std::int32_t chromosome)
      : stream_(seed.value, seed.replicate, Layer::kMarkers, static_cast<std::uint32_t>(child),
                panel_lane(meiosis, chromosome)),
        starts_on_second_((stream_.next_bits() & 1) != 0) {}

  bool starts_on_second() const { return starts_on_second_; }
  // The next crossover's position, in centimorgans.
  double next() {
    at_ += -std::log(stream_.next_uniform()) * kCentimorgansPerMorgan;
    return at_;
  }

 private:
  LayerStream stream_;
  bool starts_on_second_;
  double at_ = 0;
};

}  // namespace pedsim
