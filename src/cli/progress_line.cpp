#include "cli/progress_line.hpp"

#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "cli/process.hpp"
#include "text/text.hpp"

namespace pedsim {

namespace {

constexpr auto kQuietStart = std::chrono::seconds(1);
constexpr auto kShownEvery = std::chrono::milliseconds(250);

double seconds_between(std::chrono::steady_clock::time_point from,
                       std::chrono::steady_clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace

ProgressLine::ProgressLine(int fd)
    : fd_(fd), terminal_(::isatty(fd) == 1), started_(Clock::now()) {}

void ProgressLine::at(std::string_view stage, double done) {
  if (!terminal_) return;
  const Clock::time_point now = Clock::now();
  if (stage != stage_) {
    stage_ = stage;
    stage_started_ = now;
  }
  if (now - started_ < kQuietStart || (shown_ && now - last_shown_ < kShownEvery)) return;
  last_shown_ = now;
  char share[16];
  std::snprintf(share, sizeof share, " %.0f%%", std::floor(100 * done));
  std::string line = "\rpedsim: " + stage_ + share;
  const double spent = seconds_between(stage_started_, now);
  if (done >= 0.02 && spent >= 0.5) {
    line += ", about " + duration_text(spent * (1 - done) / done) + " left";
  }
  write_text(fd_, line + "\x1b[K");
  shown_ = true;
}

void ProgressLine::clear() {
  if (!shown_) return;
  write_text(fd_, "\r\x1b[K");
  shown_ = false;
}

}  // namespace pedsim
