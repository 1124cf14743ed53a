#pragma once

#include "pedsim/simulation.hpp"

namespace pedsim {

// Wall-clock seconds a run spent in each phase, for the benchmarks.
struct PhaseSeconds {
  double founders = 0;
  double mating = 0;
  double selection = 0;
  double loss = 0;
  double injection = 0;  // with the writing of outputs, when they are streamed
  double panel = 0;      // the marker panel's gene drop
  double records = 0;    // the panel's missing genotypes and errors
};

// simulate(), adding the seconds of each phase to `seconds`.
Simulation simulate_timed(const Parameters& parameters, const Seed& seed, PhaseSeconds& seconds,
                          const OutputSinks& outputs = {}, const Model& model = {},
                          const MarkerOptions& markers = {}, const RecordOptions& records = {});

}  // namespace pedsim
