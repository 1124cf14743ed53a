#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "pedsim/simulation.hpp"

namespace pedsim {

// One line on a terminal that says how far a long run has gone: its stage,
// the share done and, once it can tell, the time the stage has left. It
// shows only after the first second, is replaced in place at most four
// times a second, and is erased before anything else is written to the
// terminal and when the run ends. Off a terminal it shows nothing.
class ProgressLine final : public Progress {
 public:
  explicit ProgressLine(int fd);
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  ~ProgressLine() override { clear(); }

  void at(std::string_view stage, double done) override;
  // Erases the line, if shown.
  void clear();

 private:
  using Clock = std::chrono::steady_clock;

  int fd_;
  bool terminal_;
  bool shown_ = false;
  std::string stage_;
  Clock::time_point started_;
  Clock::time_point stage_started_;
  Clock::time_point last_shown_;
};

// The console beside a progress line on the same terminal: the line is
// erased before each console write, so that the two never mix.
class ConsoleBesideProgress final : public ByteSink {
 public:
  ConsoleBesideProgress(ByteSink& console, ProgressLine& line) : console_(console), line_(line) {}
  void write(std::string_view bytes) override {
    line_.clear();
    console_.write(bytes);
  }

 private:
  ByteSink& console_;
  ProgressLine& line_;
};

}  // namespace pedsim
