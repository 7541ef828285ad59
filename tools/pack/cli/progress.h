// Progress of long work, for a person at a terminal: bytes and members done
// and the rate, redrawn in place on one line a few times a second. Nothing
// at all is written when the stream is not a terminal or the user asked for
// quiet, so logs and pipes stay clean.
#ifndef VANTREL_PACK_CLI_PROGRESS_H
#define VANTREL_PACK_CLI_PROGRESS_H

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace vantrel_pack {

// Seconds on a clock that only moves forward.
using ProgressClock = std::function<double()>;
double SteadySeconds();

// True when progress should be shown on `stream`: it is the standard
// output or error stream, that stream is a terminal, and not `quiet`.
bool ShowsProgress(const std::ostream &stream, bool quiet);

class Progress {
 public:
  // `show` false makes every call below do nothing. `activity` names the
  // work ("zipping"); the totals may be 0 when unknown.
  Progress(std::ostream &out, bool show, std::string activity, uint64_t totalBytes,
           uint64_t totalMembers, ProgressClock clock = SteadySeconds);
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

  void AddBytes(uint64_t bytes);
  void SetMembersDone(uint64_t members);
  // Takes the line off the screen before other output; the next update
  // draws it again.
  void Clear();
  // Draws the final state and ends the line.
  void Finish();

 private:
  void Draw(bool now);
  std::string Line() const;

  std::ostream &out_;
  bool show_;
  std::string activity_;
  uint64_t totalBytes_, totalMembers_;
  uint64_t bytes_ = 0, members_ = 0;
  ProgressClock clock_;
  double started_;
  double lastDrawn_ = -1;
  size_t shownWidth_ = 0;
  bool finished_ = false;
};

// "1.5 MiB", "300 B": sizes as a person reads them.
std::string HumanBytes(double bytes);

}  // namespace vantrel_pack

#endif
