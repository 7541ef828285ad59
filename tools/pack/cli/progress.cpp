#include "progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>

namespace vantrel_pack {
namespace {
// Redraws are spaced by at least this much: a terminal fed faster only
// flickers and slows the work down.
constexpr double kRedrawSeconds = 0.2;
}  // namespace

double SteadySeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool ShowsProgress(const std::ostream &stream, bool quiet) {
  if (quiet) return false;
  if (&stream == &std::cerr || &stream == &std::clog) return isatty(STDERR_FILENO) == 1;
  if (&stream == &std::cout) return isatty(STDOUT_FILENO) == 1;
  return false;
}

std::string HumanBytes(double bytes) {
  const char *units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 4) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
  return text;
}

Progress::Progress(std::ostream &out, bool show, std::string activity, uint64_t totalBytes,
                   uint64_t totalMembers, ProgressClock clock)
    : out_(out),
      show_(show),
      activity_(std::move(activity)),
      totalBytes_(totalBytes),
      totalMembers_(totalMembers),
      clock_(std::move(clock)),
      started_(show ? clock_() : 0) {}

void Progress::AddBytes(uint64_t bytes) {
  bytes_ += bytes;
  Draw(false);
}

void Progress::SetMembersDone(uint64_t members) {
  members_ = members;
  Draw(false);
}

std::string Progress::Line() const {
  std::string line = activity_ + " " + HumanBytes(double(bytes_));
  if (totalBytes_) {
    char percent[16];
    std::snprintf(percent, sizeof percent, " (%d%%)",
                  int(bytes_ >= totalBytes_ ? 100 : bytes_ * 100 / totalBytes_));
    line += " of " + HumanBytes(double(totalBytes_)) + percent;
  }
  line += ", " + std::to_string(members_);
  if (totalMembers_) line += " of " + std::to_string(totalMembers_);
  line += totalMembers_ == 1 ? " member" : " members";
  double elapsed = clock_() - started_;
  if (elapsed > 0) line += ", " + HumanBytes(double(bytes_) / elapsed) + "/s";
  return line;
}

void Progress::Draw(bool now) {
  if (!show_ || finished_) return;
  double time = clock_();
  if (!now && lastDrawn_ >= 0 && time - lastDrawn_ < kRedrawSeconds) return;
  lastDrawn_ = time;
  std::string line = Line();
  // Blanks over what is left of a longer line drawn before.
  size_t width = line.size();
  if (width < shownWidth_) line += std::string(shownWidth_ - width, ' ');
  out_ << '\r' << line << std::flush;
  shownWidth_ = width;
}

void Progress::Clear() {
  if (!show_ || shownWidth_ == 0) return;
  out_ << '\r' << std::string(shownWidth_, ' ') << '\r' << std::flush;
  shownWidth_ = 0;
  lastDrawn_ = -1;
}

void Progress::Finish() {
  if (!show_ || finished_) return;
  Draw(true);
  out_ << '\n' << std::flush;
  finished_ = true;
}

}  // namespace vantrel_pack
