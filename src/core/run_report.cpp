#include "run_report.h"

#ifdef _WIN32
// Nobody listens to the stub on Windows.
void ReportMember(DWORD, MemberVerdict) {}
void ReportWalkEnd(WalkEnd, DWORD) {}
void ReportMissingPart(BYTE) {}
#else
#include "report_listener.h"

namespace {
ReportListener *listener = nullptr;
}  // namespace

void ListenToReports(ReportListener *to) { listener = to; }

void ReportMember(DWORD headerPosition, MemberVerdict verdict) {
  if (listener) listener->Member(MemberRecord{headerPosition, state.localHeader, verdict});
}

void ReportWalkEnd(WalkEnd end, DWORD position) {
  if (listener) listener->WalkEnded(end, position);
}

void ReportMissingPart(BYTE partNumber) {
  if (listener) listener->PartMissing(partNumber);
}
#endif
