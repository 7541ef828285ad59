// The build machine's side of run_report.h: a program that runs the stub's
// procedures on the host (vantrel-pack, the tests) hears what they report.
// Only host code includes this; the stub itself never listens.
#ifndef VANTREL_REPORT_LISTENER_H
#define VANTREL_REPORT_LISTENER_H

#include "run_report.h"

// One member as the walk left it.
struct MemberRecord {
  DWORD headerPosition;  // where its local header starts in the package file
  LocalHeader header;    // the local header as the walk read it
  MemberVerdict verdict;
};

class ReportListener {
 public:
  virtual ~ReportListener() = default;
  virtual void Member(const MemberRecord &) {}
  virtual void WalkEnded(WalkEnd, DWORD /*position*/) {}
  virtual void PartMissing(BYTE /*partNumber*/) {}
};

// From here on the reports go to `listener`; null: to nobody. One listener
// at a time, as there is one program state.
void ListenToReports(ReportListener *listener);

#endif
