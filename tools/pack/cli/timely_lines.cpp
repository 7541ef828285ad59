#include "timely_lines.h"

#include <utility>

namespace vantrel_pack {
namespace {
// No reader notices a line this late; a flush per line costs a system call.
constexpr double kLatestSeconds = 0.05;
}  // namespace

TimelyLines::TimelyLines(std::ostream &out, ProgressClock clock)
    : out_(out), clock_(std::move(clock)) {}

TimelyLines::~TimelyLines() { Finish(); }

void TimelyLines::Finish() {
  if (held_) out_.flush();
  held_ = false;
}

void TimelyLines::Written() {
  held_ = true;
  FlushIfDue();
}

void TimelyLines::Tick() {
  if (held_) FlushIfDue();
}

void TimelyLines::FlushIfDue() {
  double now = clock_();
  if (now - lastFlush_ < kLatestSeconds) return;
  out_.flush();
  lastFlush_ = now;
  held_ = false;
}

}  // namespace vantrel_pack
