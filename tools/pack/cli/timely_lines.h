// Lines for a reader who follows the work as it goes (a person, a log, a
// script reading a pipe), written without a system call per line: a line
// reaches the stream at once when none went out in the last twentieth of a
// second, and otherwise with the next line or the next step of the work
// after that, so thousands of short lines a second go out a few at a time.
#ifndef VANTREL_PACK_CLI_TIMELY_LINES_H
#define VANTREL_PACK_CLI_TIMELY_LINES_H

#include <ostream>

#include "progress.h"

namespace vantrel_pack {

class TimelyLines {
 public:
  explicit TimelyLines(std::ostream &out, ProgressClock clock = SteadySeconds);
  TimelyLines(const TimelyLines &) = delete;
  TimelyLines &operator=(const TimelyLines &) = delete;
  // Hands on whatever is still held.
  ~TimelyLines();

  // After a line was written to the stream.
  void Written();
  // While the work goes on without lines: hands on a line held too long.
  void Tick();
  // Hands on whatever is held, before other output follows.
  void Finish();

 private:
  void FlushIfDue();

  std::ostream &out_;
  ProgressClock clock_;
  double lastFlush_ = -1e9;
  bool held_ = false;
};

}  // namespace vantrel_pack

#endif
