#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "pedsim/simulation.hpp"

namespace pedsim {

// Passes bytes on to a file and tells `progress` the share written of the
// bytes the file is expected to hold (below 1 until the writer is done,
// since the expectation is an estimate).
class ProgressSink final : public ByteSink {
 public:
  ProgressSink(ByteSink& out, Progress* progress, std::string stage, double expected_bytes)
      : out_(out), progress_(progress), stage_(std::move(stage)), expected_(expected_bytes) {}

  void write(std::string_view bytes) override {
    out_.write(bytes);
    written_ += static_cast<double>(bytes.size());
    if (progress_ != nullptr && expected_ > 0) {
      progress_->at(stage_, std::min(0.99, written_ / expected_));
    }
  }

 private:
  ByteSink& out_;
  Progress* progress_;
  std::string stage_;
  double expected_;
  double written_ = 0;
};

}  // namespace pedsim
